#pragma once
// A small JSON reader for test vectors: numbers, strings, arrays, objects.
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace ombra::sim::test {

struct Json {
    enum class Type { null, boolean, number, string, array, object } type = Type::null;
    double number = 0;
    bool boolean = false;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> fields;

    const Json* find(const std::string& key) const
    {
        auto it = fields.find(key);
        return it == fields.end() ? nullptr : &it->second;
    }
    const Json& operator[](const std::string& key) const
    {
        static const Json none;
        const Json* j = find(key);
        return j ? *j : none;
    }
    std::int64_t integer() const { return std::int64_t(number); }

    static Json parse(const std::string& s)
    {
        std::size_t pos = 0;
        Json j = value(s, pos);
        return j;
    }

private:
    static void space(const std::string& s, std::size_t& p)
    {
        while (p < s.size() && (s[p] == ' ' || s[p] == '\n' || s[p] == '\r' || s[p] == '\t'))
            ++p;
    }
    static char peek(const std::string& s, std::size_t& p)
    {
        space(s, p);
        if (p >= s.size())
            throw std::runtime_error("json: unexpected end");
        return s[p];
    }
    static std::string str(const std::string& s, std::size_t& p)
    {
        std::string out;
        ++p;  // opening quote
        while (p < s.size() && s[p] != '"') {
            if (s[p] == '\\' && p + 1 < s.size()) {
                ++p;
                out += s[p] == 'n' ? '\n' : s[p] == 't' ? '\t' : s[p];
            } else {
                out += s[p];
            }
            ++p;
        }
        if (p >= s.size())
            throw std::runtime_error("json: unterminated string");
        ++p;
        return out;
    }
    static Json value(const std::string& s, std::size_t& p)
    {
        Json j;
        const char c = peek(s, p);
        if (c == '{') {
            j.type = Type::object;
            ++p;
            if (peek(s, p) == '}') {
                ++p;
                return j;
            }
            for (;;) {
                if (peek(s, p) != '"')
                    throw std::runtime_error("json: key expected");
                std::string key = str(s, p);
                if (peek(s, p) != ':')
                    throw std::runtime_error("json: colon expected");
                ++p;
                j.fields[key] = value(s, p);
                const char n = peek(s, p);
                ++p;
                if (n == '}')
                    return j;
                if (n != ',')
                    throw std::runtime_error("json: comma expected");
            }
        }
        if (c == '[') {
            j.type = Type::array;
            ++p;
            if (peek(s, p) == ']') {
                ++p;
                return j;
            }
            for (;;) {
                j.items.push_back(value(s, p));
                const char n = peek(s, p);
                ++p;
                if (n == ']')
                    return j;
                if (n != ',')
                    throw std::runtime_error("json: comma expected");
            }
        }
        if (c == '"') {
            j.type = Type::string;
            j.text = str(s, p);
            return j;
        }
        if (s.compare(p, 4, "true") == 0 || s.compare(p, 5, "false") == 0) {
            j.type = Type::boolean;
            j.boolean = s[p] == 't';
            p += j.boolean ? 4 : 5;
            return j;
        }
        if (s.compare(p, 4, "null") == 0) {
            p += 4;
            return j;
        }
        std::size_t used = 0;
        j.type = Type::number;
        j.number = std::stod(s.substr(p, 32), &used);
        if (used == 0)
            throw std::runtime_error("json: bad value");
        p += used;
        return j;
    }
};

} // namespace ombra::sim::test
