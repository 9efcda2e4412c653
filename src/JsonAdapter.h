// A small immutable JSON value for the settings, channel and calendar
// readers and for the channel-file maker.
//
// The readers were written against a lenient accessor style: asking a
// value for something it is not (a key of an array, the string of a
// number) quietly gives false, 0, "" or an empty container, so a
// well-formed file with an unexpected shape never stops a run. Parsing
// itself is strict. This header keeps the JSON library out of every other
// unit; only JsonAdapter.cpp sees it.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

class Json;

namespace jsonadapter_detail {
struct Node;

template <class T, class = void>
struct isObjectLike : std::false_type {};
template <class T>
struct isObjectLike<T, std::void_t<typename T::key_type, typename T::mapped_type,
                                   decltype(std::declval<const T&>().begin())>>
    : std::conjunction<std::is_constructible<std::string, const typename T::key_type&>,
                       std::is_constructible<Json, const typename T::mapped_type&>> {};

template <class T, class = void>
struct isArrayLike : std::false_type {};
template <class T>
struct isArrayLike<T, std::void_t<typename T::value_type, decltype(std::declval<const T&>().begin())>>
    : std::conjunction<std::negation<isObjectLike<T>>, std::negation<std::is_same<T, std::string>>,
                       std::is_constructible<Json, const typename T::value_type&>> {};
}  // namespace jsonadapter_detail

class Json {
public:
    enum Type { NUL, NUMBER, BOOL, STRING, ARRAY, OBJECT };

    using array = std::vector<Json>;
    using object = std::map<std::string, Json>;  // byte-wise key order

    // Deeper nesting than this is refused by parse(): the top value is at
    // depth 0, and any value (scalar or container) beginning deeper fails.
    static constexpr int maxDepth = 200;

    Json() noexcept;  // null
    Json(std::nullptr_t) noexcept;
    Json(double value);
    Json(int value);
    Json(bool value);
    Json(const std::string& value);
    Json(std::string&& value);
    Json(const char* value);
    Json(const array& values);
    Json(array&& values);
    Json(const object& values);
    Json(object&& values);
    // Any pointer but const char* would otherwise turn into a bool.
    Json(void*) = delete;

    // From standard containers: a map-like one (string keys) gives an
    // object, any other container of convertible values an array.
    template <class M, typename std::enable_if<jsonadapter_detail::isObjectLike<M>::value &&
                                                   !std::is_same<M, object>::value,
                                               int>::type = 0>
    Json(const M& m) : Json(object(m.begin(), m.end())) {}
    template <class V, typename std::enable_if<jsonadapter_detail::isArrayLike<V>::value &&
                                                   !std::is_same<V, array>::value,
                                               int>::type = 0>
    Json(const V& v) : Json(array(v.begin(), v.end())) {}

    Type type() const;
    bool is_null() const { return type() == NUL; }
    bool is_number() const { return type() == NUMBER; }
    bool is_bool() const { return type() == BOOL; }
    bool is_string() const { return type() == STRING; }
    bool is_array() const { return type() == ARRAY; }
    bool is_object() const { return type() == OBJECT; }

    // Lenient accessors: a value of another type gives 0, false, "", or an
    // empty container.
    double number_value() const;
    // The number cut toward zero and clamped to the int range.
    int int_value() const;
    bool bool_value() const;
    const std::string& string_value() const;
    const array& array_items() const;
    const object& object_items() const;

    // The null value for an index out of range, a missing key, or a value
    // that is not an array / object.
    const Json& operator[](std::size_t index) const;
    const Json& operator[](const std::string& key) const;
    const Json& operator[](const char* key) const { return (*this)[std::string(key)]; }

    bool operator==(const Json& other) const;
    bool operator!=(const Json& other) const { return !(*this == other); }

    // One line; objects in key order; ", " and ": " as separators; text
    // other than quotes, backslashes and control characters is written as is.
    void dump(std::string& out) const;
    std::string dump() const {
        std::string out;
        dump(out);
        return out;
    }

    // Strict JSON (no comments, no trailing commas, no byte-order mark, no
    // NUL byte, at most maxDepth levels). On failure returns the null value
    // and sets err to a description ending in " in Line No. : N", where N
    // is the line (from 1) at which parsing stopped. A text that is just
    // null also returns the null value, with err left empty.
    static Json parse(const std::string& in, std::string& err);

private:
    std::shared_ptr<const jsonadapter_detail::Node> m_node;  // empty: null
    friend struct jsonadapter_detail::Node;
};
