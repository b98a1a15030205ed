#include "store/windows_name_rules.h"

#include <algorithm>
#include <array>

namespace qm::store {
namespace {

wchar_t Upper(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool SameText(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return Upper(x) == Upper(y); });
}

bool IsDeviceDigit(wchar_t c) {
    // 0 to 9, and the superscript 1, 2 and 3 that Windows takes for them.
    return (c >= L'0' && c <= L'9') || c == L'\u00B9' || c == L'\u00B2' || c == L'\u00B3';
}

// The name before any extension, as Windows looks it up among the devices.
bool IsReservedDeviceName(std::wstring_view component) {
    std::wstring_view stem = component.substr(0, component.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') {
        stem.remove_suffix(1);
    }
    static constexpr std::array<std::wstring_view, 6> kNames = {L"CON", L"PRN",    L"AUX",
                                                                L"NUL", L"CONIN$", L"CONOUT$"};
    if (std::any_of(kNames.begin(), kNames.end(),
                    [&](std::wstring_view name) { return SameText(stem, name); })) {
        return true;
    }
    return stem.size() == 4 &&
           (SameText(stem.substr(0, 3), L"COM") || SameText(stem.substr(0, 3), L"LPT")) &&
           IsDeviceDigit(stem[3]);
}

bool IsRefusedCharacter(wchar_t c) {
    return c < 32 || std::wstring_view(L"<>\"|?*:").find(c) != std::wstring_view::npos;
}

}  // namespace

bool IsHazardousWindowsComponent(std::wstring_view component) {
    if (component.empty() || component == L"." || component == L"..") {
        return false;  // the path rules that every platform shares decide these
    }
    if (component.back() == L'.' || component.back() == L' ') {
        return true;
    }
    return std::any_of(component.begin(), component.end(), IsRefusedCharacter) ||
           IsReservedDeviceName(component);
}

}  // namespace qm::store
