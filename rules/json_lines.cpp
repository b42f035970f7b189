#include "rules/json_lines.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iterator>
#include <set>
#include <vector>

namespace adcard::rules {

namespace {

// A character iterator that tells how far the reader has read: the reader
// takes one character at a time through it, so at each SAX event `*furthest`
// is just past the token that made it (and, for a number, past the one
// character the reader looked ahead).
class CountingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char *;
    using reference = const char &;

    CountingIterator(const char *p, const char **furthest) : p_(p), furthest_(furthest) {}
    reference operator*() const { return *p_; }
    CountingIterator &operator++()
    {
        ++p_;
        if (furthest_ && p_ > *furthest_)
            *furthest_ = p_;
        return *this;
    }
    CountingIterator operator++(int)
    {
        CountingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const CountingIterator &o) const { return p_ == o.p_; }
    bool operator!=(const CountingIterator &o) const { return p_ != o.p_; }

private:
    const char *p_;
    const char **furthest_;
};

using json = nlohmann::json;

class LineSax {
public:
    LineSax(std::string_view text, JsonLines &out) : text_(text), out_(out), furthest_(text.data())
    {
        for (std::size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\n')
                newlines_.push_back(i);
    }

    const char **furthest() { return &furthest_; }

    bool null() { return scalar(); }
    bool boolean(bool) { return scalar(); }
    bool number_integer(json::number_integer_t) { return scalar(true); }
    bool number_unsigned(json::number_unsigned_t) { return scalar(true); }
    bool number_float(json::number_float_t, const std::string &) { return scalar(true); }
    bool string(std::string &) { return scalar(); }
    bool binary(json::binary_t &) { return scalar(); }
    bool start_object(std::size_t) { return open(false); }
    bool start_array(std::size_t) { return open(true); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(std::string &k)
    {
        Frame &f = frames_.back();
        f.key = k;
        const std::string path = f.path + "/" + pointerPart(k);
        const int line = lineAt(consumed() - 1); // the key's closing quote
        if (!f.keys.insert(k).second) {
            out_.ok = false;
            out_.duplicate = true;
            out_.errorLine = line;
            out_.errorPath = path;
            out_.errorReason = "键 \"" + k + "\" 重复";
            return false;
        }
        out_.lines.emplace(path, line);
        return true;
    }

    bool parse_error(std::size_t position, const std::string &, const nlohmann::detail::exception &ex)
    {
        out_.ok = false;
        out_.errorLine = lineAt(position > 0 ? position - 1 : 0);
        out_.errorPath = frames_.empty() ? std::string() : frames_.back().path +
                         (frames_.back().array ? "" : "/" + pointerPart(frames_.back().key));
        // nlohmann's own text starts with its exception's id and a position
        // of its own; the reason is what follows.
        const std::string_view what = ex.what();
        const std::size_t colon = what.find(": ");
        out_.errorReason = "JSON 语法错误：";
        out_.errorReason.append(what.substr(colon == std::string_view::npos ? 0 : colon + 2));
        return false;
    }

private:
    struct Frame {
        bool array = false;
        std::size_t index = 0;
        std::string path, key;
        std::set<std::string> keys;
    };

    std::size_t consumed() const { return static_cast<std::size_t>(furthest_ - text_.data()); }

    int lineAt(std::size_t offset) const
    {
        return 1 + static_cast<int>(std::lower_bound(newlines_.begin(), newlines_.end(), offset) - newlines_.begin());
    }

    // The path of a value that starts here; an array's element gets its line.
    std::string place(bool number)
    {
        if (frames_.empty())
            return {};
        Frame &f = frames_.back();
        if (!f.array)
            return f.path + "/" + pointerPart(f.key);
        std::string path = f.path + "/" + std::to_string(f.index++);
        const std::size_t back = number ? 2 : 1;
        out_.lines.emplace(path, lineAt(consumed() >= back ? consumed() - back : 0));
        return path;
    }

    bool scalar(bool number = false)
    {
        place(number);
        return true;
    }
    bool open(bool array)
    {
        Frame f;
        f.array = array;
        f.path = place(false);
        frames_.push_back(std::move(f));
        return true;
    }
    bool close()
    {
        frames_.pop_back();
        return true;
    }

    std::string_view text_;
    JsonLines &out_;
    const char *furthest_;
    std::vector<std::size_t> newlines_;
    std::vector<Frame> frames_;
};

} // namespace

std::string pointerPart(std::string_view key)
{
    std::string out;
    for (const char c : key) {
        if (c == '~')
            out += "~0";
        else if (c == '/')
            out += "~1";
        else
            out += c;
    }
    return out;
}

int JsonLines::lineOf(std::string_view path) const
{
    while (true) {
        if (const auto it = lines.find(path); it != lines.end())
            return it->second;
        const std::size_t slash = path.rfind('/');
        if (slash == std::string_view::npos)
            return 0;
        path = path.substr(0, slash);
    }
}

JsonLines scanJsonLines(std::string_view text)
{
    JsonLines out;
    LineSax sax(text, out);
    const char *begin = text.data(), *end = text.data() + text.size();
    json::sax_parse(CountingIterator(begin, sax.furthest()), CountingIterator(end, nullptr), &sax);
    return out;
}

} // namespace adcard::rules
