#pragma once
// CVNumberText: numbers as the helper's command line and report carry them, in the C locale's
// shortest exact form, and read back only when the whole text is one number of the type.
//
// Stateless.

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

class CVNumberText {
public:
    template <typename T>
    static std::string Format(T value) {
        char buffer[40];
        auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        return std::string(buffer, end);
    }

    // The number, or nullopt when the text is empty, has anything around the number or does
    // not fit the type.
    template <typename T>
    static std::optional<T> Parse(std::string_view text) {
        T value{};
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size()) {
            return std::nullopt;
        }
        return value;
    }
};
