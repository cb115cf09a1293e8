#pragma once
// Message formatting: fills "{}" placeholders in order. GCC 12 has no <format>, and the messages
// need only a few specifiers: "{}", and "{:Wx}", "{:Wd}", "{:.Pf}" with an optional leading 0 on
// the width W (as in "{:016x}" and "{:.1f}"). Numbers are rounded as printf rounds them.
// A pattern that doesn't match its arguments is a programming error: std::logic_error.

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace launcher {

class FormatArgument {
 public:
  FormatArgument(std::wstring_view text) : value_(text) {}
  FormatArgument(const std::wstring& text) : value_(std::wstring_view(text)) {}
  FormatArgument(const wchar_t* text) : value_(std::wstring_view(text)) {}
  FormatArgument(double number) : value_(number) {}
  template <std::integral Integer>
  FormatArgument(Integer number) {
    if constexpr (std::is_signed_v<Integer>) {
      value_ = static_cast<std::int64_t>(number);
    } else {
      value_ = static_cast<std::uint64_t>(number);
    }
  }

  using Value = std::variant<std::wstring_view, std::int64_t, std::uint64_t, double>;
  const Value& value() const { return value_; }

 private:
  Value value_;
};

std::wstring FormatList(std::wstring_view pattern, std::initializer_list<FormatArgument> arguments);

template <typename... Arguments>
std::wstring Format(std::wstring_view pattern, const Arguments&... arguments) {
  return FormatList(pattern, {FormatArgument(arguments)...});
}

}  // namespace launcher
