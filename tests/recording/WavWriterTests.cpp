#include "channel/HelperError.h"
#include "recording/WavFile.h"
#include "recording/WavWriter.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvio;
using namespace tarvio::testing;

namespace {

std::vector<uint8_t> hex(std::initializer_list<int> bytes) { return {bytes.begin(), bytes.end()}; }

const std::vector<uint8_t> emptyHeader = hex({0x52, 0x49, 0x46, 0x46, 0x24, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45,
    0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x80, 0x3E, 0x00, 0x00, 0x00, 0x7D, 0x00,
    0x00, 0x02, 0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x00, 0x00, 0x00});

}

TEST(WavWriter, FreshFileIsTheEmptyHeaderWithOwnerOnlyMode)
{
    TemporaryFolder folder;
    auto path = folder / "a.wav";
    WavWriter writer(path.string());
    EXPECT_EQ(readBytes(path), emptyHeader);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u & ~[] { mode_t mask = ::umask(0); ::umask(mask); return mask; }());
    writer.finish();
    EXPECT_EQ(readBytes(path), emptyHeader);
}

TEST(WavWriter, HeaderSizesTable)
{
    struct Case {
        int64_t dataBytes;
        uint32_t riffSize;
        uint32_t dataSize;
    };
    const Case cases[] = {
        {0, 36, 0},
        {32000, 32036, 32000},
        {-5, 36, 0},
        {4294967259, 4294967295, 4294967259},
        {4294967260, 0, 4294967260},
        {4294967295, 35, 4294967295},
        {int64_t(1) << 40, 35, 4294967295},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.dataBytes);
        auto header = WavWriter::header(row.dataBytes);
        std::vector<uint8_t> bytes(header.begin(), header.end());
        EXPECT_EQ(le32At(bytes, 4), row.riffSize);
        EXPECT_EQ(le32At(bytes, 40), row.dataSize);
        // Everything but the two sizes is constant.
        for (size_t offset : {0, 8, 12, 16, 20, 24, 28, 32, 36})
            EXPECT_EQ(le32At(bytes, offset), le32At(emptyHeader, offset)) << offset;
    }
    auto clamped = WavWriter::header(4294967295);
    EXPECT_EQ(std::vector<uint8_t>(clamped.begin() + 40, clamped.end()), hex({0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(std::vector<uint8_t>(clamped.begin() + 4, clamped.begin() + 8), hex({0x23, 0x00, 0x00, 0x00}));
}

TEST(WavWriter, OneSecondOfSamplesFinished)
{
    TemporaryFolder folder;
    auto path = folder / "a.wav";
    WavWriter writer(path.string());
    std::vector<int16_t> samples(16000);
    for (size_t index = 0; index < samples.size(); ++index)
        samples[index] = static_cast<int16_t>(index * 7 - 30000);
    writer.append(std::span(samples).first(6000));
    writer.append(std::span(samples).subspan(6000));
    writer.finish();
    auto bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 44u + 32000u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 4, bytes.begin() + 8), hex({0x24, 0x7D, 0x00, 0x00}));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 40, bytes.begin() + 44), hex({0x00, 0x7D, 0x00, 0x00}));
    EXPECT_EQ(wavSamples(bytes), samples);
    EXPECT_EQ(bytes[44], uint8_t(-30000 & 0xFF)); // little-endian
}

TEST(WavWriter, HeaderLagsUntilRewritten)
{
    TemporaryFolder folder;
    auto path = folder / "a.wav";
    WavWriter writer(path.string());
    std::vector<int16_t> samples(100, 1);
    writer.append(samples);
    EXPECT_EQ(le32At(readBytes(path), 40), 0u);
    writer.rewriteHeader();
    EXPECT_EQ(le32At(readBytes(path), 40), 200u);
    writer.finish();
}

TEST(WavWriter, NothingHappensForEmptyAppendsOrAfterFinish)
{
    TemporaryFolder folder;
    auto path = folder / "a.wav";
    WavWriter writer(path.string());
    writer.append({});
    EXPECT_EQ(writer.dataBytes(), 0);
    writer.finish();
    std::vector<int16_t> samples(10, 5);
    writer.append(samples);
    writer.rewriteHeader();
    writer.finish();
    EXPECT_TRUE(writer.isFinished());
    EXPECT_EQ(writer.dataBytes(), 0);
    EXPECT_EQ(readBytes(path), emptyHeader);
}

TEST(WavWriter, ExistingFileIsTruncated)
{
    TemporaryFolder folder;
    auto path = folder / "a.wav";
    {
        std::ofstream old(path);
        old << std::string(1000, 'x');
    }
    WavWriter writer(path.string());
    writer.finish();
    EXPECT_EQ(readBytes(path), emptyHeader);
}

TEST(WavWriter, UncreatableFileRaisesWithThePath)
{
    TemporaryFolder folder;
    std::string path = (folder / "missing/dir/a.wav").string();
    try {
        WavWriter writer(path);
        FAIL() << "no error";
    } catch (const HelperError& error) {
        EXPECT_EQ(error.code, "internal");
        EXPECT_EQ(error.message, "não foi possível criar " + path);
    }
}

namespace {

// The path is refused as a file that cannot be created.
void expectRefused(const std::string& path)
{
    try {
        WavWriter writer(path);
        ADD_FAILURE() << "no error";
    } catch (const HelperError& error) {
        EXPECT_EQ(error.code, "internal");
        EXPECT_EQ(error.message, "não foi possível criar " + path);
    }
}

}

TEST(WavWriter, OnlyRegularOrNewFilesAreWritten)
{
    TemporaryFolder folder;
    std::string kept = (folder / "kept.wav").string();
    { std::ofstream(kept) << "keep"; }
    std::string fifo = (folder / "pipe").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A reader on the FIFO: opening it for writing would succeed and block
    // nothing, but must still be refused, with nothing written.
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const std::string paths[] = {
        kept + std::string(1, '\0') + "/../other.wav", // the part before the NUL must stay untouched
        fifo,
        "/dev/null",
        "/proc/self/comm",
        "/proc/tarvio.wav",
        "/sys/kernel/tarvio.wav",
        folder.path.string(),
    };
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        expectRefused(path);
    }
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0);
    ::close(reader);
    EXPECT_EQ(readBytes(kept).size(), 4u);
    // Without a reader, opening a FIFO for writing would block or fail.
    expectRefused(fifo);
}

TEST(WavWriter, TheFileOfAnOpenWriterIsNeverTakenAgain)
{
    TemporaryFolder folder;
    auto path = folder / "rec.wav";
    auto link = folder / "link.wav";
    auto hardLink = folder / "hard.wav";
    WavWriter recording(path.string());
    std::vector<int16_t> samples(100, 7);
    recording.append(samples);
    std::filesystem::create_symlink(path, link);
    std::filesystem::create_hard_link(path, hardLink);
    for (const auto& other : {path, link, hardLink, folder / "." / "rec.wav"}) {
        SCOPED_TRACE(other);
        expectRefused(other.string());
    }
    recording.finish();
    EXPECT_EQ(readBytes(path).size(), 44u + 200u);
    // Once finished, the file is free again.
    WavWriter again(link.string());
    again.finish();
    EXPECT_EQ(readBytes(path), emptyHeader);
}

TEST(WavWriter, AHeaderThatCannotBeWrittenIsAnErrorAndLeavesNoFile)
{
    TemporaryFolder folder;
    std::string path = (folder / "a.wav").string();
    FileSizeLimit limit(10);
    try {
        WavWriter writer(path);
        ADD_FAILURE() << "no error";
    } catch (const HelperError& error) {
        EXPECT_EQ(error.code, "internal");
        EXPECT_EQ(error.message, "não foi possível gravar " + path + ": File too large");
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(WavWriter, FailedWritesAreReportedAndLeaveSilenceOnceWritingWorks)
{
    TemporaryFolder folder;
    auto path = folder / "a.wav";
    WavWriter writer(path.string());
    std::vector<int16_t> block(100, 9);
    FileSizeLimit limit(44 + 200);
    EXPECT_EQ(writer.writeAt(0, block), 100u);
    EXPECT_EQ(writer.lastError(), "");
    EXPECT_EQ(writer.writeAt(100, block), 0u);
    EXPECT_EQ(writer.lastError(), "File too large");
    EXPECT_EQ(writer.dataBytes(), 200);
    EXPECT_TRUE(writer.rewriteHeader());
    limit.lift();
    // The block after the failed one lands where it belongs.
    EXPECT_EQ(writer.writeAt(200, block), 100u);
    EXPECT_TRUE(writer.extendTo(350));
    EXPECT_TRUE(writer.finish());
    auto bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 44u + 700u);
    EXPECT_EQ(le32At(bytes, 40), 700u);
    auto samples = wavSamples(bytes);
    for (size_t index = 0; index < samples.size(); ++index)
        ASSERT_EQ(samples[index], (index < 100 || (index >= 200 && index < 300)) ? 9 : 0) << index;
}

// A write cut short in the middle of a sample must not shift the samples
// that follow by one byte.
TEST(WavWriter, ShortWriteKeepsSamplesAligned)
{
    TemporaryFolder folder;
    auto path = folder / "a.wav";
    WavWriter writer(path.string());
    {
        FileSizeLimit limit(44 + 3);
        std::vector<int16_t> first{0x1111, 0x2222};
        EXPECT_EQ(writer.append(first), 1u);
    }
    EXPECT_EQ(writer.dataBytes(), 2);
    std::vector<int16_t> second{0x3333, 0x4444};
    writer.append(second);
    writer.finish();
    EXPECT_EQ(wavSamples(readBytes(path)), (std::vector<int16_t>{0x1111, 0x3333, 0x4444}));
}
