// The hand-over block and its frame, read from good and bad bytes as they arrive.
#include <gtest/gtest.h>

#include "core/HandOverBlock.h"

namespace tarn {
namespace {

std::string Word(uint32_t value) { return std::string{char(value), char(value >> 8), char(value >> 16), char(value >> 24)}; }

struct FrameCase {
    const char* what;
    std::string frame;
    HandOverFrameReader::Status status;
    HandOver expected = {};
    bool activation = false;
};

TEST(HandOverBlockTest, FramesAreTakenWholeOrRefusedAsTheyArrive)
{
    const HandOver two{{"/srv/a", "/srv/b c"}, "/home/u/dst"};
    const std::string good = EncodeHandOverFrame(two);
    const std::string block = EncodeHandOverBlock(two);
    using S = HandOverFrameReader::Status;
    const FrameCase cases[] = {
        {"two sources and a destination, in order", good, S::Complete, two},
        {"no source, no destination", EncodeHandOverFrame({}), S::Complete},
        {"no source, a destination", EncodeHandOverFrame({{}, "/d"}), S::Complete, {{}, "/d"}},
        {"cut short", good.substr(0, good.size() - 1), S::NeedMore},
        {"a byte more than announced", good + "x", S::Refused},
        {"another kind", Word(3) + good.substr(4), S::Refused},
        {"an activation with a block", Word(2) + good.substr(4), S::Refused},
        {"a block over the limit", Word(1) + Word(HandOverBlockLimit + 1), S::Refused},
        {"a count the block cannot hold", Word(1) + Word(8) + Word(0x7FFFFFFF) + Word(0), S::Refused},
        {"a path running past the block", Word(1) + Word(12) + Word(1) + Word(100) + "abcd", S::Refused},
        {"bytes after the destination", Word(1) + Word(block.size() + 1) + block + "x", S::Refused},
        {"no destination length", Word(1) + Word(4) + Word(0), S::Refused},
        {"a later start asking for the front", EncodeHandOverActivation(), S::Complete, {}, true},
    };
    for (const FrameCase& c : cases) {
        // Whole, and a byte at a time as a slow sender's bytes come.
        for (const bool byByte : {false, true}) {
            HandOverFrameReader reader;
            auto status = S::NeedMore;
            if (byByte) {
                for (const char byte : c.frame)
                    if ((status = reader.Feed(std::string_view(&byte, 1))) == S::Refused) break;
            } else {
                status = reader.Feed(c.frame);
            }
            EXPECT_EQ(status, c.status) << c.what << (byByte ? ", byte by byte" : "");
            EXPECT_EQ(reader.IsActivation(), c.activation) << c.what;
            if (status == S::Complete) {
                EXPECT_EQ(reader.Result().Sources, c.expected.Sources) << c.what;
                EXPECT_EQ(reader.Result().Destination, c.expected.Destination) << c.what;
            }
        }
    }
}

}  // namespace
}  // namespace tarn
