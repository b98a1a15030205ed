// The run's settings from upd.ini: defaults, ranges, and the texts of the endings.
#include "app/run_settings.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace qm::app {
namespace {

struct SettingsCase {
    std::string lines;  // below [GENERAL] SERVER=host
    std::optional<std::string> ending;
    std::chrono::seconds stallLimit{120};
    unsigned requestWindow = 1;
    std::size_t pins = 0;
    bool applyWholeRun = false;
    unsigned retries = 0;
};

TEST(RunSettings, EverySettingIsCheckedAsWritten) {
    std::string const badTimeout = "TIMEOUT must be a whole number of seconds from 0 to 86400";
    std::string const badWindow = "WINDOW must be a whole number from 1 to 256";
    std::string const badPin = "PIN must be sha256// and 44 base64 characters, separated by ;";
    std::string const pin = "sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=";
    std::string const badApply = "APPLY must be file or run";
    std::string const badRetries = "RETRIES must be a whole number from 0 to 20";
    auto const defaultLimit = std::chrono::seconds(120);
    SettingsCase const cases[] = {
        {"", {}},
        {"TIMEOUT=0\nWINDOW=256\n", {}, std::chrono::seconds(0), 256},
        {"TIMEOUT =  86400 \nWINDOW= 1\n", {}, std::chrono::seconds(86400), 1},
        {"TIMEOUT=\"30\"\nWINDOW=064\n", {}, std::chrono::seconds(30), 64},
        {"TIMEOUT=86401\n", badTimeout},
        {"TIMEOUT=-1\n", badTimeout},
        {"TIMEOUT=1.5\n", badTimeout},
        {"TIMEOUT=10s\n", badTimeout},
        {"TIMEOUT=99999999999999999999\n", badTimeout},
        {"WINDOW=0\n", badWindow},
        {"WINDOW=257\n", badWindow},
        {"WINDOW=+4\n", badWindow},
        {"WINDOW=four\n", badWindow},
        {"PIN=\n", {}},
        {"PIN=" + pin + "\n", {}, std::chrono::seconds(120), 1, 1},
        {"PIN=" + pin + ";" + pin + "\n", {}, std::chrono::seconds(120), 1, 2},
        {"PIN=" + pin.substr(8) + "\n", badPin},
        {"PIN=" + pin + ";\n", badPin},
        {"APPLY=file\nRETRIES=0\n", {}},
        {"APPLY=run\nRETRIES=20\n", {}, defaultLimit, 1, 0, true, 20},
        {"APPLY = Run \nRETRIES=\"3\"\n", {}, defaultLimit, 1, 0, true, 3},
        {"APPLY=\n", {}},
        {"APPLY=files\n", badApply},
        {"APPLY=run now\n", badApply},
        {"RETRIES=21\n", badRetries},
        {"RETRIES=-1\n", badRetries},
        {"RETRIES=2.0\n", badRetries},
    };
    for (SettingsCase const& c : cases) {
        SCOPED_TRACE(c.lines);
        test::TempDir dir;
        test::WriteFile("upd.ini", "[GENERAL]\nSERVER=host\n" + c.lines);
        std::variant<RunSettings, update::Ending> const read = ReadRunSettings();
        if (c.ending) {
            auto const* ending = std::get_if<update::Ending>(&read);
            ASSERT_NE(ending, nullptr);
            EXPECT_EQ(ending->status, update::ExitStatus::Configuration);
            EXPECT_EQ(ending->caption, "Configuration error:");
            EXPECT_EQ(ending->text, *c.ending);
            continue;
        }
        auto const* settings = std::get_if<RunSettings>(&read);
        ASSERT_NE(settings, nullptr);
        EXPECT_EQ(settings->serverAddress, "host");
        EXPECT_EQ(settings->stallLimit, c.stallLimit);
        EXPECT_EQ(settings->requestWindow, c.requestWindow);
        EXPECT_EQ(settings->pins.size(), c.pins);
        EXPECT_EQ(settings->applyWholeRun, c.applyWholeRun);
        EXPECT_EQ(settings->retries, c.retries);
    }
}

}  // namespace
}  // namespace qm::app
