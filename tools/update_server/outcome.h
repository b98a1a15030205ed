// The result of a step that either gives a value or explains, in one line for the operator, why it
// could not.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace qm::server {

template <typename Value>
class Outcome {
  public:
    static Outcome Success(Value value) { return Outcome(std::move(value), {}); }
    static Outcome Failure(std::string reason) { return Outcome(std::nullopt, std::move(reason)); }

    bool ok() const { return value_.has_value(); }
    Value& value() { return *value_; }
    Value const& value() const { return *value_; }
    std::string const& reason() const { return reason_; }

  private:
    Outcome(std::optional<Value> value, std::string reason)
        : value_(std::move(value)), reason_(std::move(reason)) {}

    std::optional<Value> value_;
    std::string reason_;
};

}  // namespace qm::server
