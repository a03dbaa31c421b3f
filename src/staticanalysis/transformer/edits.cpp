#include "staticanalysis/transformer/edits.hpp"

#include <algorithm>

#include "staticanalysis/helpers/facade.hpp"

namespace tessary::transformer {

namespace {

// A token of asttokens, with the few questions the edits ask of it.
struct Token {
  py::object tok;
  long start() const { return tok.attr("startpos").cast<long>(); }
  long end() const { return tok.attr("endpos").cast<long>(); }
  long line() const { return py::tuple(tok.attr("start"))[0].cast<long>(); }
  std::string text() const { return py::str(tok.attr("string")); }
  bool is(const char* s) const { return text() == s; }
};

// The text of the module and the way around its tokens.
class Source {
 public:
  explicit Source(const py::object& atok) : atok_(atok), text_(atok.attr("text")) {}

  Token next(const Token& t) const { return {atok_.attr("next_token")(t.tok)}; }
  Token prev(const Token& t) const { return {atok_.attr("prev_token")(t.tok)}; }
  Token first(const py::object& node) const { return {node.attr("first_token")}; }
  Token last(const py::object& node) const { return {node.attr("last_token")}; }

  long line_begin(long pos) const { return text_.attr("rfind")("\n", 0, pos).cast<long>() + 1; }
  // The offset of the newline ending the line of `pos` (or the text's end).
  long line_end(long pos) const {
    long found = text_.attr("find")("\n", pos).cast<long>();
    return found < 0 ? static_cast<long>(py::len(text_)) : found;
  }
  std::string slice(long start, long end) const { return py::str(text_[py::slice(start, end, 1)]); }
  long size() const { return static_cast<long>(py::len(text_)); }
  // Nothing but spaces before the token on its line.
  bool first_on_line(const Token& t) const { return blank(slice(line_begin(t.start()), t.start())); }
  std::string indentation_of(const Token& t) const { return slice(line_begin(t.start()), t.start()); }
  bool has_comment(long start, long end) const {
    for (py::handle tok : atok_.attr("token_range")(atok_.attr("get_token_from_offset")(start),
                                                     atok_.attr("get_token_from_offset")(std::max(start, end - 1)),
                                                     py::arg("include_extra") = true)) {
      if (py::str(tok.attr("string")).cast<std::string>().rfind("#", 0) == 0) return true;
    }
    return false;
  }

  static bool blank(const std::string& text) { return text.find_first_not_of(" \t\f") == std::string::npos; }

 private:
  py::object atok_;
  py::str text_;
};

std::optional<std::string> callee_name(const py::object& func) {
  Node node(func);
  if (node.isa(ast().Attribute)) return node.attrname();
  if (node.isa(ast().Name)) return node.name();
  return std::nullopt;
}

bool contains(const std::vector<py::object>& nodes, const py::handle& node) {
  return std::any_of(nodes.begin(), nodes.end(), [&](const py::object& n) { return n.is(node); });
}

std::string rendered(const py::handle& node, const formatting::QuoteTarget& quotes) {
  return formatting::requote_strings(py::str(node.attr("as_string")()), quotes);
}

// The first token of a keyword as written: `**` for an unpacking.
Token keyword_start(const Source& source, const CallSnapshot::Keyword& keyword) {
  Token first = source.first(keyword.node);
  if (keyword.arg.is_none()) {
    Token star = source.prev(first);
    if (star.is("**")) return star;
  }
  return first;
}

// Removing one keyword: its tokens and one neighbouring comma, or its whole
// line when nothing else stands on it (a comment there stays, alone).
TextEdit removal(const Source& source, const CallSnapshot::Keyword& keyword) {
  Token first = keyword_start(source, keyword);
  Token last = source.last(keyword.node);
  Token after = source.next(last);
  Token before = source.prev(first);
  bool comma = after.is(",");
  Token end = comma ? after : last;

  long begin = source.line_begin(first.start());
  long stop = source.line_end(end.end());
  std::string rest = source.slice(end.end(), stop);
  std::string trailing = rest.substr(std::min(rest.find_first_not_of(" \t\f"), rest.size()));
  if (source.first_on_line(first) && (trailing.empty() || trailing[0] == '#')) {
    std::string kept = trailing.empty() ? "" : source.slice(begin, first.start()) + trailing + "\n";
    return {begin, std::min(stop + 1, source.size()), kept};
  }
  if (comma) {
    Token following = source.next(after);
    if (following.is(")")) {
      // f(a, key=1,) keeps its trailing comma; f(key=1,) is left empty.
      if (before.is(",")) return {before.end(), after.end(), ""};
      return {first.start(), after.end(), ""};
    }
    if (following.line() == after.line()) return {first.start(), following.start(), ""};
    long start = before.line() == first.line() ? before.end() : first.start();
    return {start, after.end(), ""};
  }
  if (before.is(",")) return {before.start(), last.end(), ""};
  return {first.start(), last.end(), ""};
}

// Removals of neighbouring keywords overlap where each takes the comma
// between them (`max_length=1000, null=False` at the end of a call): one
// edit takes both, with the comma before them when nothing follows but
// the closing bracket.
void merge_removals(const Source& source, std::vector<TextEdit>& edits) {
  std::vector<TextEdit> removals, others;
  for (TextEdit& edit : edits) (edit.text.empty() && edit.start < edit.end ? removals : others).push_back(edit);
  if (removals.size() < 2) return;
  std::sort(removals.begin(), removals.end(), [](const TextEdit& a, const TextEdit& b) { return a.start < b.start; });
  std::vector<TextEdit> merged;
  for (const TextEdit& edit : removals) {
    if (!merged.empty() && edit.start < merged.back().end) {
      TextEdit& run = merged.back();
      run.end = std::max(run.end, edit.end);
      std::string after = source.slice(run.end, std::min(run.end + 64, source.size()));
      size_t next = after.find_first_not_of(" \t\f\r\n");
      if (next != std::string::npos && after[next] == ')') {
        std::string before = source.slice(std::max(0L, run.start - 64), run.start);
        size_t last = before.find_last_not_of(" \t\f");
        if (last != std::string::npos && before[last] == ',') run.start -= static_cast<long>(before.size() - last);
      }
      continue;
    }
    merged.push_back(edit);
  }
  edits = others;
  edits.insert(edits.end(), merged.begin(), merged.end());
}

}  // namespace

CallSnapshot snapshot_call(const py::object& call) {
  const Astroid& a = ast();
  CallSnapshot snapshot;
  snapshot.call = call;
  snapshot.func = call.attr(a.func);
  snapshot.callee = callee_name(snapshot.func).value_or("");
  for (const Node& arg : Node(call).nodes(a.args)) snapshot.args.push_back(arg.obj());
  for (const Node& keyword : Node(call).nodes(a.keywords))
    snapshot.keywords.push_back({keyword.obj(), keyword.get(a.arg), keyword.get(a.value)});
  return snapshot;
}

std::optional<std::vector<TextEdit>> call_edits(const py::object& atok, const CallSnapshot& before,
                                                const formatting::QuoteTarget& quotes) {
  const Astroid& a = ast();
  Source source(atok);
  Node call(before.call);
  std::vector<TextEdit> edits;

  // The callee: the same node, perhaps renamed.
  py::object func = call.get(a.func);
  if (!func.is(before.func)) return std::nullopt;
  std::optional<std::string> callee = callee_name(func);
  if (callee && *callee != before.callee) {
    Token name = source.last(func);
    if (name.text() != before.callee) return std::nullopt;
    edits.push_back({name.start(), name.end(), *callee});
  }

  // Positional arguments: the same ones, perhaps with more at the end.
  std::vector<Node> args = call.nodes(a.args);
  if (args.size() < before.args.size()) return std::nullopt;
  for (size_t i = 0; i < before.args.size(); ++i)
    if (!args[i].obj().is(before.args[i])) return std::nullopt;
  std::vector<std::string> additions;
  for (size_t i = before.args.size(); i < args.size(); ++i) additions.push_back(rendered(args[i].obj(), quotes));

  // Keywords: renamed, given a new value, removed, or new.
  std::vector<Node> keywords = call.nodes(a.keywords);
  std::vector<py::object> now;
  for (const Node& k : keywords) now.push_back(k.obj());
  std::vector<py::object> written;
  std::vector<const CallSnapshot::Keyword*> surviving;
  bool removed = false;
  for (const CallSnapshot::Keyword& keyword : before.keywords) {
    written.push_back(keyword.node);
    if (!contains(now, keyword.node)) {
      edits.push_back(removal(source, keyword));
      removed = true;
      continue;
    }
    surviving.push_back(&keyword);
    Node node(keyword.node);
    py::object arg = node.get(a.arg);
    if (!arg.equal(keyword.arg)) {
      if (keyword.arg.is_none() || arg.is_none()) return std::nullopt;
      Token name = source.first(keyword.node);
      if (name.text() != py::str(keyword.arg).cast<std::string>()) return std::nullopt;
      edits.push_back({name.start(), name.end(), py::str(arg)});
    }
    py::object value = node.get(a.value);
    if (!value.is(keyword.value)) {
      Token first = source.first(keyword.value), last = source.last(keyword.value);
      if (source.has_comment(first.start(), last.end())) return std::nullopt;
      edits.push_back({first.start(), last.end(), rendered(value, quotes)});
    }
  }
  merge_removals(source, edits);
  for (const Node& keyword : keywords) {
    if (contains(written, keyword.obj())) continue;
    py::object arg = keyword.get(a.arg);
    std::string value = rendered(keyword.get(a.value), quotes);
    additions.push_back(arg.is_none() ? "**" + value : py::str(arg).cast<std::string>() + "=" + value);
  }

  Token last_token = source.last(before.call);
  Token lpar = source.next(source.last(before.func));
  if (!last_token.is(")") || !lpar.is("(")) return std::nullopt;
  bool multiline = lpar.line() != last_token.line();

  if (!additions.empty()) {
    auto joined = [&](const std::string& separator) {
      std::string out;
      for (const std::string& item : additions) out += (out.empty() ? "" : separator) + item;
      return out;
    };
    // New arguments go after the last one written, before a **mapping.
    const CallSnapshot::Keyword* star = nullptr;
    for (const CallSnapshot::Keyword* keyword : surviving)
      if (keyword->arg.is_none()) {
        star = keyword;
        break;
      }
    std::optional<Token> anchor;
    for (const py::object& arg : before.args)
      if (!anchor || source.last(arg).end() > anchor->end()) anchor = source.last(arg);
    for (const CallSnapshot::Keyword* keyword : surviving)
      if (!keyword->arg.is_none() && (!anchor || source.last(keyword->node).end() > anchor->end()))
        anchor = source.last(keyword->node);
    if (star) {
      Token at = keyword_start(source, *star);
      if (multiline && source.first_on_line(at)) {
        std::string indentation = source.indentation_of(at);
        std::string text;
        for (const std::string& item : additions) text += indentation + item + ",\n";
        edits.push_back({source.line_begin(at.start()), source.line_begin(at.start()), text});
      } else {
        edits.push_back({at.start(), at.start(), joined(", ") + ", "});
      }
    } else if (anchor) {
      Token after = source.next(*anchor);
      bool comma = after.is(",");
      // One argument per line: each new one on a line of its own, with a
      // trailing comma; otherwise on the anchor's line.
      Token anchor_first = *anchor;
      for (const py::object& arg : before.args)
        if (source.last(arg).end() == anchor->end()) anchor_first = source.first(arg);
      for (const CallSnapshot::Keyword* keyword : surviving)
        if (source.last(keyword->node).end() == anchor->end()) anchor_first = keyword_start(source, *keyword);
      if (multiline && source.first_on_line(anchor_first) && source.first_on_line(last_token)) {
        std::string indentation = source.indentation_of(anchor_first);
        long at = source.line_end(comma ? after.end() : anchor->end());
        std::string text;
        for (const std::string& item : additions) text += "\n" + indentation + item + ",";
        // The anchor gets the comma it lacked (before a comment after it).
        if (!comma && at == anchor->end()) text = "," + text;
        else if (!comma) edits.push_back({anchor->end(), anchor->end(), ","});
        edits.push_back({at, at, text});
      } else {
        edits.push_back({anchor->end(), anchor->end(), ", " + joined(", ")});
      }
    } else {
      edits.push_back({lpar.end(), lpar.end(), joined(", ")});
      if (removed && !source.has_comment(lpar.end(), last_token.start())) {
        // Everything that was written goes: the new arguments stand alone.
        edits.erase(std::remove_if(edits.begin(), edits.end(),
                                   [&](const TextEdit& e) { return e.start >= lpar.end() && e.end <= last_token.start() && e.start != e.end; }),
                    edits.end());
        edits.push_back({lpar.end(), last_token.start(), ""});
      }
    }
  } else if (removed && args.empty() && keywords.empty() && !source.has_comment(lpar.end(), last_token.start())) {
    // Nothing left between the brackets: f() rather than f(\n).
    edits.erase(std::remove_if(edits.begin(), edits.end(),
                               [&](const TextEdit& e) { return e.start >= lpar.end() && e.end <= last_token.start(); }),
                edits.end());
    edits.push_back({lpar.end(), last_token.start(), ""});
  }
  return edits;
}

}  // namespace tessary::transformer
