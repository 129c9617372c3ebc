#include "support/sexpr.hpp"

namespace pinbook::test {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_delimiter(char c) { return is_blank(c) || c == '(' || c == ')'; }

std::string fault(std::size_t at, std::string_view what) {
    return "byte " + std::to_string(at) + ": " + std::string(what);
}

}  // namespace

std::string_view Sexpr::head() const {
    if (!is_list() || items.empty() || items.front().kind != Kind::atom) return {};
    return items.front().text;
}

std::vector<const Sexpr*> Sexpr::children(std::string_view name) const {
    std::vector<const Sexpr*> found;
    for (const Sexpr& item : items) {
        if (item.head() == name) found.push_back(&item);
    }
    return found;
}

std::expected<Sexpr, std::string> parse_sexpr(std::string_view text) {
    // Open lists, innermost last; the finished top-level list lands in `top`.
    std::vector<Sexpr> open;
    Sexpr top;
    bool have_top = false;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (is_blank(c)) {
            ++i;
        } else if (c == '(') {
            if (open.empty() && have_top) return std::unexpected(fault(i, "a second top-level list"));
            open.emplace_back();
            ++i;
        } else if (c == ')') {
            if (open.empty()) return std::unexpected(fault(i, "')' closes no list"));
            Sexpr done = std::move(open.back());
            open.pop_back();
            if (open.empty()) {
                top = std::move(done);
                have_top = true;
            } else {
                open.back().items.push_back(std::move(done));
            }
            ++i;
        } else if (open.empty()) {
            return std::unexpected(fault(i, "text outside the top-level list"));
        } else if (c == '"') {
            if (i > 0 && !is_delimiter(text[i - 1])) {
                return std::unexpected(fault(i, "string glued to the atom before it"));
            }
            Sexpr s{Sexpr::Kind::string, {}, {}};
            const std::size_t start = i;
            ++i;
            bool closed = false;
            while (i < text.size()) {
                const char d = text[i];
                if (d == '"') {
                    closed = true;
                    ++i;
                    break;
                }
                if (d == '\n' || d == '\r') return std::unexpected(fault(i, "line end inside a string"));
                if (d == '\\') {
                    if (i + 1 >= text.size()) break;
                    switch (text[i + 1]) {
                        case '\\': s.text += '\\'; break;
                        case '"': s.text += '"'; break;
                        case 'n': s.text += '\n'; break;
                        case 'r': s.text += '\r'; break;
                        case 't': s.text += '\t'; break;
                        default: return std::unexpected(fault(i, "unknown escape in a string"));
                    }
                    i += 2;
                    continue;
                }
                s.text += d;
                ++i;
            }
            if (!closed) return std::unexpected(fault(start, "string never closed"));
            if (i < text.size() && !is_delimiter(text[i])) {
                return std::unexpected(fault(i, "atom glued to the string before it"));
            }
            open.back().items.push_back(std::move(s));
        } else {
            Sexpr a{Sexpr::Kind::atom, {}, {}};
            while (i < text.size() && !is_delimiter(text[i])) {
                if (text[i] == '"') return std::unexpected(fault(i, "string glued to the atom before it"));
                a.text += text[i];
                ++i;
            }
            open.back().items.push_back(std::move(a));
        }
    }
    if (!open.empty()) return std::unexpected(fault(text.size(), "list never closed"));
    if (!have_top) return std::unexpected(fault(text.size(), "no list at all"));
    return top;
}

::testing::AssertionResult WellFormedSexpr(std::string_view text) {
    auto parsed = parse_sexpr(text);
    if (parsed) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "malformed S-expression, " << parsed.error();
}

}  // namespace pinbook::test
