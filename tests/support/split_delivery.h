// The ways a recorded stream may reach a reader over a network: whole, cut
// once at every position, and one byte per read. A reader that keeps state
// across reads must make the same messages, in the same order, of each.
#ifndef HV_TESTS_SPLIT_DELIVERY_H
#define HV_TESTS_SPLIT_DELIVERY_H

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using SplitPieces = std::vector<std::string>;
// What a reader made of the pieces, as text: the messages it handed out or
// what it answered, in order. Each call starts from a fresh reader.
using SplitReader = std::function<std::string(const SplitPieces&)>;

struct SplitRow {
    const char* reader;
    std::string stream;
    SplitReader read;
};

inline std::vector<SplitPieces> splitDeliveries(const std::string& s) {
    std::vector<SplitPieces> out;
    for (size_t cut = 1; cut < s.size(); cut++)
        out.push_back({s.substr(0, cut), s.substr(cut)});
    SplitPieces bytes;
    for (char c : s)
        bytes.push_back(std::string(1, c));
    out.push_back(bytes);
    return out;
}

// Reports the first delivery of each row that differs from whole delivery.
inline void expectSameHoweverSplit(const std::vector<SplitRow>& rows) {
    for (const SplitRow& r : rows) {
        SCOPED_TRACE(r.reader);
        std::string whole = r.read({r.stream});
        ASSERT_FALSE(whole.empty()) << "the whole stream made nothing";
        for (const SplitPieces& p : splitDeliveries(r.stream)) {
            std::string got = r.read(p);
            EXPECT_EQ(got, whole) << p.size() << " pieces, the first " << p[0].size() << " bytes";
            if (got != whole) break;
        }
    }
}

#endif
