// Launch records from other processes: only whole records are read, and the
// argument text never runs past its field.
#include "ui/diuirecord.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> record(const std::u16string& args, size_t size) {
    std::vector<uint8_t> r(size, 0);
    for (size_t i = 0; i < args.size() && 3080 + 2 * i + 1 < size; i++) {
        r[3080 + 2 * i] = uint8_t(args[i]);
        r[3080 + 2 * i + 1] = uint8_t(args[i] >> 8);
    }
    return r;
}

TEST(LaunchRecord, ArgumentTextIsBoundedByItsFieldAndTheRecord) {
    const struct {
        const char* name;
        std::u16string text;
        size_t size;
        int want;
        std::u16string wantArgs;
    } cases[] = {
        {"whole", u"-application calc", 3592, 0, u"-application calc"},
        {"empty", u"", 3592, 0, u""},
        {"non-ASCII", u"-args \u00e9\u4e2d", 3592, 0, u"-args \u00e9\u4e2d"},
        {"fills the field", std::u16string(256, u'a'), 3592, 0, std::u16string(256, u'a')},
        {"longer than the field", std::u16string(300, u'b'), 4000, 0, std::u16string(256, u'b')},
        {"one byte short", u"-x", 3591, -1, u""},
        {"ends before the text", u"-x", 3000, -1, u""},
        {"nothing", u"", 0, -1, u""},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> r = record(c.text, c.size);
        DiChar args[DI_LAUNCH_ARGS_UNITS + 1];
        args[0] = u'?';
        EXPECT_EQ(c.want, diUIReadLaunchArgs(r.data(), r.size(), args)) << c.name;
        EXPECT_EQ(c.wantArgs, std::u16string(args)) << c.name;
    }
    DiChar args[DI_LAUNCH_ARGS_UNITS + 1];
    EXPECT_EQ(-1, diUIReadLaunchArgs(nullptr, 3592, args));
    EXPECT_EQ(0, args[0]);
}

} // namespace
