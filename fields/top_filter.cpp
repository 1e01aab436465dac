// The filter of `libfc top` matched in C over a read's compact columns.
// top.py reads the typed words (a number, a protocol name, a part of an
// address) and keeps the Python test of a row as the reference; matching
// a million rows' tuples with it took seconds at each Enter.

#include "fields/top_filter.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "fields/spelling.hpp"
#include "fields/top_columns.hpp"

namespace top_filter {

namespace {

using namespace top_columns;

// One typed word, as top.filter_words reads it: a row matches it by its
// port or protocol number, by its protocol, or by a part of its source or
// destination address's text.
struct Word {
    long long number;  // -1: not a number
    int proto;         // -1: no protocol's name
    char needle[spelling::kIPv6Text];
    std::size_t needle_size;  // 0: no part of any address (or longer than every address's text)
    bool in_ipv4;             // digits and dots only: it may be a part of an IPv4 address's text
};

bool read_words(PyObject *words, std::vector<Word> &into) {
    if (!PyTuple_Check(words)) return false;
    into.resize(static_cast<std::size_t>(PyTuple_GET_SIZE(words)));
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(words); ++k) {
        PyObject *item = PyTuple_GET_ITEM(words, k), *needle = nullptr;
        Word &word = into[static_cast<std::size_t>(k)];
        if (!PyTuple_Check(item) || !PyArg_ParseTuple(item, "LiO", &word.number, &word.proto, &needle))
            return false;
        word.needle_size = 0;
        if (needle == Py_None) continue;
        if (!PyUnicode_Check(needle) || !PyUnicode_IS_ASCII(needle)) return false;
        auto size = static_cast<std::size_t>(PyUnicode_GET_LENGTH(needle));
        if (size > sizeof word.needle) continue;  // in no address's text
        std::memcpy(word.needle, PyUnicode_DATA(needle), size);
        word.needle_size = size;
        word.in_ipv4 = size <= 15 && std::all_of(word.needle, word.needle + size, [](char c) {
            return c == '.' || (c >= '0' && c <= '9');
        });
    }
    return true;
}

// A row's address texts, spelt the first time a word looks into them.
class AddressTexts {
  public:
    AddressTexts(const Columns &t, Py_ssize_t i) : t_(t), i_(i) {}

    bool v6() const { return t_.at<std::uint8_t>(b_ipv6, i_) != 0; }

    // Null data when the table lacks the row's addresses.
    std::string_view text(int which) {
        if (size_[which] < 0) {
            const unsigned char *at = t_.address(i_, which, v6());
            if (!at) return {};
            size_[which] = static_cast<int>(v6() ? spelling::ipv6_text(text_[which], at) : ipv4_text(text_[which], at));
        }
        return {text_[which], static_cast<std::size_t>(size_[which])};
    }

  private:
    const Columns &t_;
    Py_ssize_t i_;
    char text_[2][spelling::kIPv6Text];
    int size_[2] = {-1, -1};
};

// Whether an address's text holds the needle: a few dozen bytes at most,
// looked through without the library's search, whose setup outweighs it.
bool contains(std::string_view text, std::string_view needle) {
    if (needle.size() > text.size()) return false;
    for (std::size_t at = 0, last = text.size() - needle.size(); at <= last; ++at)
        if (text[at] == needle[0] && std::memcmp(text.data() + at, needle.data(), needle.size()) == 0) return true;
    return false;
}

enum Match { no, yes, lacking };

Match matches(const Columns &t, const std::vector<Word> &words, Py_ssize_t i) {
    std::uint32_t port = t.at<std::uint32_t>(b_ports, i);
    std::uint8_t proto = t.at<std::uint8_t>(b_protos, i);
    AddressTexts addresses(t, i);
    for (const Word &word : words) {
        if (word.number >= 0 && (port == word.number || proto == word.number)) continue;
        if (word.proto >= 0 && proto == word.proto) continue;
        if (!word.needle_size || (!word.in_ipv4 && !addresses.v6())) return no;
        std::string_view needle(word.needle, word.needle_size), source = addresses.text(0);
        if (!source.data()) return lacking;
        if (contains(source, needle)) continue;
        std::string_view destination = addresses.text(1);
        if (!destination.data()) return lacking;
        if (!contains(destination, needle)) return no;
    }
    return yes;
}

}  // namespace

// top_select(columns, positions, words): the bytes of the positions ('I')
// of the rows at `positions` (None: every row) that match every word, in
// their order; each word a (number, protocol, address part) tuple from
// top.filter_words, -1 and None for what the word is not.
PyObject *select(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    std::vector<Word> words;
    if (n != 3 || !read_words(args[2], words))
        return arguments::refuse("top_select", "columns, positions, words of (number, protocol, address part)");
    Columns t;
    Selection rows;
    if (!t.hold(args[0]) || !rows.hold(args[1], t)) return nullptr;
    std::vector<std::uint32_t> kept;
    Py_ssize_t refused = -1;  // a row whose address the table lacks
    // The columns are held and the words copied: a million rows are
    // matched while the screen's thread answers keys.
    Py_BEGIN_ALLOW_THREADS
    for (Py_ssize_t k = 0, size = rows.size(t); k < size; ++k) {
        Match match = matches(t, words, rows[k]);
        if (match == lacking) {
            refused = rows[k];
            break;
        }
        if (match == yes) kept.push_back(static_cast<std::uint32_t>(rows[k]));
    }
    Py_END_ALLOW_THREADS
    if (refused >= 0) return refuse_row(refused);
    return PyBytes_FromStringAndSize(reinterpret_cast<const char *>(kept.data()),
                                     static_cast<Py_ssize_t>(kept.size() * sizeof(std::uint32_t)));
}

}  // namespace top_filter
