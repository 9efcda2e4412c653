#include "JsonAdapter.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>

namespace jsonadapter_detail {

struct Node {
    Json::Type type = Json::NUL;
    double number = 0.0;
    bool boolean = false;
    std::string text;
    Json::array items;
    Json::object members;

    static Json wrap(std::shared_ptr<Node> node) {
        Json j;
        j.m_node = std::move(node);
        return j;
    }
};

}  // namespace jsonadapter_detail

using jsonadapter_detail::Node;

namespace {

const std::string& emptyString() {
    static const std::string value;
    return value;
}
const Json::array& emptyArray() {
    static const Json::array value;
    return value;
}
const Json::object& emptyObject() {
    static const Json::object value;
    return value;
}
const Json& nullJson() {
    static const Json value;
    return value;
}

std::shared_ptr<Node> makeNode(Json::Type type) {
    auto node = std::make_shared<Node>();
    node->type = type;
    return node;
}

}  // namespace

Json::Json() noexcept = default;
Json::Json(std::nullptr_t) noexcept {}

Json::Json(double value) {
    auto node = makeNode(NUMBER);
    node->number = value;
    m_node = std::move(node);
}

Json::Json(int value) : Json(static_cast<double>(value)) {}

Json::Json(bool value) {
    auto node = makeNode(BOOL);
    node->boolean = value;
    m_node = std::move(node);
}

Json::Json(const std::string& value) : Json(std::string(value)) {}

Json::Json(std::string&& value) {
    auto node = makeNode(STRING);
    node->text = std::move(value);
    m_node = std::move(node);
}

Json::Json(const char* value) : Json(std::string(value ? value : "")) {}

Json::Json(const array& values) : Json(array(values)) {}

Json::Json(array&& values) {
    auto node = makeNode(ARRAY);
    node->items = std::move(values);
    m_node = std::move(node);
}

Json::Json(const object& values) : Json(object(values)) {}

Json::Json(object&& values) {
    auto node = makeNode(OBJECT);
    node->members = std::move(values);
    m_node = std::move(node);
}

Json::Type Json::type() const { return m_node ? m_node->type : NUL; }

double Json::number_value() const { return type() == NUMBER ? m_node->number : 0.0; }

int Json::int_value() const {
    if (type() != NUMBER) return 0;
    const double v = m_node->number;
    if (std::isnan(v)) return 0;
    if (v >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (v <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return static_cast<int>(v);  // in range: the conversion cuts toward zero
}

bool Json::bool_value() const { return type() == BOOL ? m_node->boolean : false; }

const std::string& Json::string_value() const { return type() == STRING ? m_node->text : emptyString(); }

const Json::array& Json::array_items() const { return type() == ARRAY ? m_node->items : emptyArray(); }

const Json::object& Json::object_items() const { return type() == OBJECT ? m_node->members : emptyObject(); }

const Json& Json::operator[](std::size_t index) const {
    const array& items = array_items();
    return index < items.size() ? items[index] : nullJson();
}

const Json& Json::operator[](const std::string& key) const {
    const object& members = object_items();
    auto it = members.find(key);
    return it == members.end() ? nullJson() : it->second;
}

bool Json::operator==(const Json& other) const {
    if (m_node == other.m_node) return true;
    if (type() != other.type()) return false;
    switch (type()) {
        case NUL: return true;
        case NUMBER: return m_node->number == other.m_node->number;
        case BOOL: return m_node->boolean == other.m_node->boolean;
        case STRING: return m_node->text == other.m_node->text;
        case ARRAY: return m_node->items == other.m_node->items;
        case OBJECT: return m_node->members == other.m_node->members;
    }
    return false;
}

// ---------------------------------------------------------------- writer

namespace {

void dumpString(const std::string& s, std::string& out) {
    out += '"';
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else if (c == 0xe2 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
                           (static_cast<unsigned char>(s[i + 2]) == 0xa8 ||
                            static_cast<unsigned char>(s[i + 2]) == 0xa9)) {
                    // U+2028 / U+2029 break JavaScript readers of the file.
                    out += static_cast<unsigned char>(s[i + 2]) == 0xa8 ? "\\u2028" : "\\u2029";
                    i += 2;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

void dumpNumber(double v, std::string& out) {
    if (!std::isfinite(v)) {
        out += "null";  // JSON has no infinity; only values built in code can hold one
        return;
    }
    char buf[32];
    if (v == std::floor(v) && std::fabs(v) < 1e15) {
        std::snprintf(buf, sizeof buf, "%.0f", v);
    } else {
        // The shortest form that reads back as the same number.
        for (int precision = 15; precision <= 17; ++precision) {
            std::snprintf(buf, sizeof buf, "%.*g", precision, v);
            if (std::strtod(buf, nullptr) == v) break;
        }
    }
    out += buf;
}

}  // namespace

void Json::dump(std::string& out) const {
    switch (type()) {
        case NUL: out += "null"; return;
        case NUMBER: dumpNumber(m_node->number, out); return;
        case BOOL: out += m_node->boolean ? "true" : "false"; return;
        case STRING: dumpString(m_node->text, out); return;
        case ARRAY: {
            out += '[';
            bool first = true;
            for (const Json& item : m_node->items) {
                if (!first) out += ", ";
                first = false;
                item.dump(out);
            }
            out += ']';
            return;
        }
        case OBJECT: {
            out += '{';
            bool first = true;
            for (const auto& member : m_node->members) {
                if (!first) out += ", ";
                first = false;
                dumpString(member.first, out);
                out += ": ";
                member.second.dump(out);
            }
            out += '}';
            return;
        }
    }
}

// ---------------------------------------------------------------- parser

namespace {

// A character iterator that tells the parser's caller how far the
// library has read: needed to give a line number when the builder, not
// the library, stops the parse (nesting too deep).
class TrackingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    TrackingIterator(const char* p, const char** furthest) : m_p(p), m_furthest(furthest) {}
    reference operator*() const { return *m_p; }
    TrackingIterator& operator++() {
        ++m_p;
        if (m_p > *m_furthest) *m_furthest = m_p;
        return *this;
    }
    TrackingIterator operator++(int) {
        TrackingIterator old = *this;
        ++*this;
        return old;
    }
    bool operator==(const TrackingIterator& o) const { return m_p == o.m_p; }
    bool operator!=(const TrackingIterator& o) const { return m_p != o.m_p; }

private:
    const char* m_p;
    const char** m_furthest;
};

// Line (from 1) of the last character read, given how many were read.
int lineAt(const std::string& text, std::size_t charsRead) {
    std::size_t end = charsRead == 0 ? 0 : charsRead - 1;
    if (end > text.size()) end = text.size();
    int line = 1;
    for (std::size_t i = 0; i < end; ++i) {
        if (text[i] == '\n') ++line;
    }
    return line;
}

std::string withLine(const std::string& message, int line) {
    return message + " in Line No. : " + std::to_string(line);
}

// The library's message without its "[json.exception...] parse error at
// line L, column C: " lead, which would repeat the line in another form.
std::string libraryMessage(const std::string& what) {
    std::string msg = what;
    std::size_t bracket = msg.find("] ");
    if (!msg.empty() && msg[0] == '[' && bracket != std::string::npos) msg.erase(0, bracket + 2);
    std::size_t colon = msg.find(": ");
    if (msg.compare(0, 11, "parse error") == 0 && colon != std::string::npos) msg.erase(0, colon + 2);
    return msg;
}

class Builder {
public:
    using number_integer_t = nlohmann::json::number_integer_t;
    using number_unsigned_t = nlohmann::json::number_unsigned_t;
    using number_float_t = nlohmann::json::number_float_t;
    using string_t = nlohmann::json::string_t;
    using binary_t = nlohmann::json::binary_t;

    Json result;
    bool tooDeep = false;
    bool failed = false;
    std::size_t errorPosition = 0;
    std::string errorMessage;

    bool null() { return value(Json()); }
    bool boolean(bool v) { return value(Json(v)); }
    bool number_integer(number_integer_t v) { return value(Json(static_cast<double>(v))); }
    bool number_unsigned(number_unsigned_t v) { return value(Json(static_cast<double>(v))); }
    bool number_float(number_float_t v, const string_t&) { return value(Json(static_cast<double>(v))); }
    bool string(string_t& v) { return value(Json(std::move(v))); }
    bool binary(binary_t&) { return false; }  // not produced by the text parser

    bool start_object(std::size_t) {
        if (!roomForValue()) return false;
        m_stack.emplace_back();
        m_stack.back().isObject = true;
        return true;
    }
    bool key(string_t& k) {
        m_stack.back().key = std::move(k);
        return true;
    }
    bool end_object() {
        Frame frame = std::move(m_stack.back());
        m_stack.pop_back();
        return place(Json(std::move(frame.members)));
    }
    bool start_array(std::size_t) {
        if (!roomForValue()) return false;
        m_stack.emplace_back();
        return true;
    }
    bool end_array() {
        Frame frame = std::move(m_stack.back());
        m_stack.pop_back();
        return place(Json(std::move(frame.items)));
    }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::json::exception& ex) {
        failed = true;
        errorPosition = position;
        errorMessage = libraryMessage(ex.what());
        return false;
    }

private:
    struct Frame {
        bool isObject = false;
        std::string key;
        Json::array items;
        Json::object members;
    };
    std::vector<Frame> m_stack;

    bool roomForValue() {
        if (m_stack.size() > static_cast<std::size_t>(Json::maxDepth)) {
            tooDeep = true;
            return false;
        }
        return true;
    }
    bool value(Json v) {
        if (!roomForValue()) return false;
        return place(std::move(v));
    }
    bool place(Json v) {
        if (m_stack.empty()) {
            result = std::move(v);
        } else if (m_stack.back().isObject) {
            m_stack.back().members[m_stack.back().key] = std::move(v);  // a repeated key keeps the last value
        } else {
            m_stack.back().items.push_back(std::move(v));
        }
        return true;
    }
};

}  // namespace

Json Json::parse(const std::string& in, std::string& err) {
    err.clear();

    // The library would skip a byte-order mark; a settings file saved with
    // one is refused, as a reader that knows only JSON whitespace would.
    if (in.size() >= 3 && in.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        err = withLine("unexpected byte-order mark at the start of the text", 1);
        return Json();
    }
    const std::size_t nul = in.find('\0');
    if (nul != std::string::npos) {
        err = withLine("unexpected NUL byte in the text", lineAt(in, nul + 1));
        return Json();
    }

    const char* begin = in.data();
    const char* furthest = begin;
    Builder builder;
    bool ok = false;
    try {
        ok = nlohmann::json::sax_parse(TrackingIterator(begin, &furthest), TrackingIterator(begin + in.size(), &furthest),
                                       &builder, nlohmann::json::input_format_t::json, true, false);
    } catch (const std::exception& e) {
        err = withLine(std::string("parse failure: ") + e.what(), lineAt(in, static_cast<std::size_t>(furthest - begin)));
        return Json();
    }
    if (ok) return builder.result;

    if (builder.tooDeep) {
        err = withLine("exceeded maximum nesting depth of " + std::to_string(maxDepth),
                       lineAt(in, static_cast<std::size_t>(furthest - begin)));
    } else if (builder.failed) {
        err = withLine(builder.errorMessage, lineAt(in, builder.errorPosition));
    } else {
        err = withLine("invalid JSON", lineAt(in, static_cast<std::size_t>(furthest - begin)));
    }
    return Json();
}
