#include "engine/RestoreFiles.h"

#include <bit>

#include "engine/GlobalUtils.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

// Little-endian pieces for hand-built expected files.
std::string LE(uint64_t v, size_t bytes)
{
    std::string s;
    for (size_t i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
}
std::string U32(uint32_t v) { return LE(v, 4); }
std::string U64(uint64_t v) { return LE(v, 8); }
std::string F64(double d) { return LE(std::bit_cast<uint64_t>(d), 8); }
std::string Str(const std::string& s) { return U32(static_cast<uint32_t>(s.size())) + s; }
std::string B(uint8_t b) { return std::string(1, static_cast<char>(b)); }

std::vector<TItemAttrs> DecodeItems(const std::string& bytes, CopyOptions* options = nullptr)
{
    std::vector<TItemAttrs> items;
    const CopyOptions read = DecodeConFile(bytes, [&](TItemAttrs&& item) { items.push_back(std::move(item)); });
    if (options) *options = read;
    return items;
}

TEST(VarFileTest, LayoutIsByteExactReadsBackAndDamageIsAClearErrorAtEveryCut)
{
    const TaskVariables v{StatePaused, "/srv/share/Photos/", "/home/u/In/Photos/", SourceFolder, true, 7, 0x123456789, 0.25,
                          AnswerUploadAll, 46000.5, 100000, -1};
    const std::string expected = B(3) + B(1) + B(3) + Str(v.Source) + Str(v.Destination) + B(1) + B(1) + U32(7) +
                                 U64(0x123456789) + F64(0.25) + B(4) + F64(46000.5) + U32(100000) + U32(0xFFFFFFFF);
    EXPECT_EQ(EncodeVarFile(v), expected);
    EXPECT_EQ(DecodeVarFile(expected), v);
    // Bytes past the last field (left by a longer earlier content) are ignored.
    EXPECT_EQ(DecodeVarFile(expected + "old tail bytes"), v);

    TaskVariables d{.Source = "/a", .Destination = "/b/"};
    const std::string bytes = EncodeVarFile(d);
    for (size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_THROW(DecodeVarFile(bytes.substr(0, cut)), DataFileError) << "cut at " << cut;

    std::string huge = bytes, badState = bytes;
    huge.replace(3, 4, U32(0xFFFFFFF0));  // Source claims almost 4 GiB
    badState[2] = 9;
    for (const std::string& damaged : {huge, badState}) EXPECT_THROW(DecodeVarFile(damaged), DataFileError);
    // Items are joined to the destination: a relative one would send them anywhere.
    for (const char* destination : {"", "b/", "../b/"}) {
        d.Destination = destination;
        EXPECT_THROW(DecodeVarFile(EncodeVarFile(d)), DataFileError) << destination;
    }
}

TEST(ConFileTest, LayoutsAreByteExactAndReadBack)
{
    const std::vector<TItemAttrs> items = {
        {"", "Empty/", 0, KindFolder}, {"", "a b.txt", 12, KindFile}, {"", "a b.txt:user.note:$DATA", 3, KindStream}};
    const CopyOptions options{true, false, true};
    const std::string expected = B(3) + B(1) + U32(3) + Str("") + Str("Empty/") + U64(0) + B(2) + Str("") +
                                 Str("a b.txt") + U64(12) + B(0) + Str("") + Str("a b.txt:user.note:$DATA") + U64(3) +
                                 B(1) + B(1) + B(0) + B(1);
    EXPECT_EQ(EncodeConFile(items, options), expected);
    CopyOptions read;
    EXPECT_EQ(DecodeItems(expected, &read), items);
    EXPECT_EQ(read, options);
    EXPECT_EQ(EncodeConFile({}, {}), B(3) + B(1) + U32(0) + B(0) + B(0) + B(0));
    // Verification adds a byte; a list without it, as every earlier version wrote, does not verify.
    const CopyOptions verifying{false, false, false, true};
    EXPECT_EQ(EncodeConFile({}, verifying), B(3) + B(1) + U32(0) + B(0) + B(0) + B(0) + B(1));
    EXPECT_EQ(DecodeItems(EncodeConFile({}, verifying), &read), std::vector<TItemAttrs>{});
    EXPECT_EQ(read, verifying);
    // The link options follow it; a hard link names the index of its file's first name.
    const std::vector<TItemAttrs> links = {{"", "f", 4, KindFile}, {"", "l", 0, KindLink},
                                           {"d/", "h", 4, KindHardLink, 0}, {"", "p", 0, KindSpecial}};
    const CopyOptions linking{false, false, false, false, true, true};
    const std::string linked = B(3) + B(1) + U32(4) + Str("") + Str("f") + U64(4) + B(0) + Str("") + Str("l") +
                               U64(0) + B(3) + Str("d/") + Str("h") + U64(4) + B(4) + U32(0) + Str("") + Str("p") +
                               U64(0) + B(5) + B(0) + B(0) + B(0) + B(0) + B(1) + B(1);
    EXPECT_EQ(EncodeConFile(links, linking), linked);
    EXPECT_EQ(DecodeItems(linked, &read), links);
    EXPECT_EQ(read, linking);
    // Only a file before it can be a hard link's first name.
    for (const int32_t first : {1, 2, 7})
        EXPECT_THROW(DecodeItems(EncodeConFile({links[0], links[1], {"", "h", 4, KindHardLink, first}}, {})), DataFileError)
            << first;
    // Version 3.0 has no kinds or options.
    const std::string bytes = B(3) + B(0) + U32(2) + Str("") + Str("Sub/") + U64(0) + Str("Sub/") + Str("f") + U64(5) +
                              B(1) + B(1) + B(1);  // trailing bytes are not options in 3.0
    read = {true, true, true};
    EXPECT_EQ(DecodeItems(bytes, &read), (std::vector<TItemAttrs>{{"", "Sub/", 0, KindFolder}, {"Sub/", "f", 5, KindFile}}));
    EXPECT_EQ(read, CopyOptions{});
}

TEST(ConFileTest, DamageAndEscapingPathsAreRejected)
{
    const std::string good = EncodeConFile({{"d/", "f", 1, KindFile}}, {});
    for (size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_THROW(DecodeItems(good.substr(0, cut)), DataFileError) << "cut at " << cut;

    std::string countTooLarge = good;
    countTooLarge.replace(2, 4, U32(0x7FFFFFFF));
    EXPECT_THROW(DecodeItems(countTooLarge), DataFileError);

    for (const auto& [dir, name] : std::vector<std::pair<std::string, std::string>>{
             {"/etc/", "passwd"}, {"../", "x"}, {"a/../../", "x"}, {"", "/abs"}, {"", "../up"}, {"a/", ".."}, {"", ""}})
        EXPECT_THROW(DecodeItems(EncodeConFile({{dir, name, 1, KindFile}}, {})), DataFileError) << dir << name;
    EXPECT_THROW(DecodeItems(EncodeConFile({{"d/", "f", -1, KindFile}}, {})), DataFileError);  // a size below zero
    EXPECT_NO_THROW(DecodeItems(EncodeConFile({{"..a/", "b..", 1, KindFile}}, {})));  // dots inside names are fine

    // An attribute's name is no path: it may hold '/' and "..", but only after its own file.
    const TItemAttrs file{"d/", "f", 1, KindFile};
    EXPECT_NO_THROW(DecodeItems(EncodeConFile({file, {"d/", "f:user.a/../../b:$DATA", 1, KindStream}}, {})));
    for (const auto& stream : std::vector<TItemAttrs>{{"d/", "g:user.a:$DATA", 1, KindStream},
                                                      {"e/", "f:user.a:$DATA", 1, KindStream},
                                                      {"d/", "f:", 1, KindStream},
                                                      {"../", "f:user.a:$DATA", 1, KindStream}})
        EXPECT_THROW(DecodeItems(EncodeConFile({file, stream}, {})), DataFileError) << stream.Dir << stream.Name;
    EXPECT_THROW(DecodeItems(EncodeConFile({{"d/", "f:user.a:$DATA", 1, KindStream}}, {})), DataFileError);
}

TEST(LogFileTest, RecordLayoutReadBackAndACutEnd)
{
    const TMsg record{"Inf007", 45000.75, {"a.txt", "/src/", "/dst/"}};
    const std::string expected = F64(45000.75) + Str("Inf007") + U32(3) + Str("a.txt") + Str("/src/") + Str("/dst/");
    EXPECT_EQ(EncodeLogRecord(record), expected);
    EXPECT_EQ(LogFileHeader(), B(3) + B(1));
    // Records are held packed, their values cut at the last delimiter: each reads back as written.
    const std::vector<TMsg> records{
        record,
        {"Inf007", 45000.875, {"b.txt", "/src/", "/dst/"}},
        {"Inf014", 1e-300, {"/src/a.txt"}},
        {"Err005", -0.0, {"", "/", "//", "a/b", std::string("n\0l/\xff", 6), std::string(300000, '/') + "x"}},
        {"#New", 2, {"0", "64"}},
        {"Inf001", 3, {}},
    };
    std::string file = LogFileHeader();
    for (const TMsg& each : records) file += EncodeLogRecord(each);
    const auto packed = DecodeLogFile(file);
    EXPECT_FALSE(packed.Damaged);
    ASSERT_EQ(packed.Records.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(packed.Records[i], records[i]) << i;

    // A cut last record keeps the ones before.
    const std::string first = EncodeLogRecord({"Inf001", 1, {}});
    const std::string second = EncodeLogRecord({"Err005", 2, {"Input/output error", "f", "/s/", "/d/"}});
    const std::string whole = LogFileHeader() + first + second;
    for (size_t cut = LogFileHeader().size() + first.size() + 1; cut < whole.size(); ++cut) {
        const auto contents = DecodeLogFile(whole.substr(0, cut));
        EXPECT_TRUE(contents.Damaged);
        EXPECT_FALSE(contents.Damage.empty());
        ASSERT_EQ(contents.Records.size(), 1u);
        EXPECT_EQ(contents.Records[0].Id, "Inf001");
        EXPECT_EQ(contents.WholeSize, LogFileHeader().size() + first.size());  // where the next record may go
    }
    EXPECT_TRUE(DecodeLogFile(LogFileHeader() + F64(1) + Str("Inf001") + U32(0xFFFFFFFF)).Damaged);  // a count past the end
    // Zeros after the records (a crash, a sparse extension) end them: a record has an id.
    const auto zeros = DecodeLogFile(LogFileHeader() + first + std::string(4096, '\0'));
    EXPECT_EQ(zeros.Records.size(), 1u);
    EXPECT_EQ(zeros.WholeSize, LogFileHeader().size() + first.size());
}

}  // namespace
}  // namespace tarn
