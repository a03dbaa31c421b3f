// Reading a project's text with <regex>. libstdc++'s matcher recurses about
// once for each character a repetition consumes, so one long run of text
// (a line of megabytes, a comment that never closes) overflows the stack
// and ends the process. A pull request can carry such a file: these
// helpers hand the matcher only short pieces.
#pragma once

#include <string>
#include <string_view>

namespace tessary {

// Longer than any line or tag worth reading for a setting, a pragma or a
// template tag.
inline constexpr std::size_t kLongestPiece = 4096;

// fn(line, offset of the line) for each line of `text` (without its line
// end) of at most `longest` characters; longer lines are passed over.
template <class Fn>
void for_each_short_line(std::string_view text, Fn&& fn, std::size_t longest = kLongestPiece) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    if (end - start <= longest) fn(std::string(text.substr(start, end - start)), start);
    if (end == text.size()) break;
    start = end + 1;
  }
}

// fn(span, offset of the span) for each span of `text` that runs from an
// `open` to the first `close` after it (the `open` nearest that close, as a
// tag reader finds it), of at most `longest` characters.
template <class Fn>
void for_each_span(std::string_view text, std::string_view open, std::string_view close, Fn&& fn,
                   std::size_t longest = kLongestPiece) {
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t begin = text.find(open, from);
    if (begin == std::string_view::npos) return;
    std::size_t end = text.find(close, begin + open.size());
    if (end == std::string_view::npos) return;
    // The last open before this close.
    std::size_t nearest = text.rfind(open, end - 1);
    if (nearest != std::string_view::npos && nearest > begin && nearest + open.size() <= end) begin = nearest;
    end += close.size();
    if (end - begin <= longest) fn(std::string(text.substr(begin, end - begin)), begin);
    from = end;
  }
}

}  // namespace tessary
