// The copy-protection probe on media that the tests make with the ffmpeg tool (plain and
// encrypted MP4, plain ASF with an encryption object written into its header) and on damaged
// and hostile files built byte by byte.

#include "components/vprotectionprobe/vprotectionprobe.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "qlib/qsys/textcodec.h"
#include "tests/qlib/qsys/testsupport.h"

namespace {

using qsys::test::ReadFile;
using qsys::test::WriteFile;

std::string BigEndian32(uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string LittleEndian(uint64_t value, int bytes) {
    std::string text;
    for (int i = 0; i < bytes; ++i) {
        text += static_cast<char>(value >> (8 * i));
    }
    return text;
}

std::string Box(const std::string& type, const std::string& payload) {
    return BigEndian32(static_cast<uint32_t>(8 + payload.size())) + type + payload;
}

const std::string k_ftyp = Box("ftyp", std::string("isom") + BigEndian32(512) + "isomiso2mp41");

class ProtectionProbe : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_folder = new qsys::test::TemporaryFolder();
        const std::string source =
            "-f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i "
            "sine=frequency=440:sample_rate=8000 -t 0.5 ";
        const std::string key = "00112233445566778899aabbccddeeff";
        Ffmpeg(source + "-c:v mpeg4 -c:a aac " + Path("plain.mp4"));
        Ffmpeg(source + "-c:v mpeg4 -c:a aac -encryption_scheme cenc-aes-ctr -encryption_key " +
               key + " -encryption_kid " + key + " " + Path("protected.mp4"));
        Ffmpeg(source + "-map 1 -c:a aac -encryption_scheme cenc-aes-ctr -encryption_key " + key +
               " -encryption_kid " + key + " " + Path("protected.m4a"));
        Ffmpeg(source + "-c:v wmv2 -c:a wmav2 " + Path("plain.wmv"));
    }
    static void TearDownTestSuite() {
        delete s_folder;
        s_folder = nullptr;
    }

    static std::string Path(const std::string& name) { return s_folder->Path() + "/" + name; }
    static void Ffmpeg(const std::string& arguments) {
        const std::string command = "ffmpeg -nostdin -loglevel error -y " + arguments;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    static bool Probe(const std::string& name) {
        return CVProtectionProbe::IsContentProtected(qsys::FromUtf8(Path(name)));
    }
    static std::string Write(const std::string& name, const std::string& bytes) {
        WriteFile(Path(name), bytes);
        return name;
    }

    // The ASF file with one more object placed first in its header object.
    static std::string WithAsfObject(const std::string& asf, const std::string& object) {
        std::string patched = asf;
        const uint64_t headerSize = ReadLittle(asf, 16, 8);
        const uint32_t count = static_cast<uint32_t>(ReadLittle(asf, 24, 4));
        patched.replace(16, 8, LittleEndian(headerSize + object.size(), 8));
        patched.replace(24, 4, LittleEndian(count + 1, 4));
        patched.insert(30, object);
        return patched;
    }
    static uint64_t ReadLittle(const std::string& bytes, size_t offset, int count) {
        uint64_t value = 0;
        for (int i = count - 1; i >= 0; --i) {
            value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
        }
        return value;
    }
    static std::string AsfObject(const std::string& id, const std::string& payload) {
        return id + LittleEndian(24 + payload.size(), 8) + payload;
    }

    static qsys::test::TemporaryFolder* s_folder;
};

qsys::test::TemporaryFolder* ProtectionProbe::s_folder = nullptr;

// Content encryption, extended content encryption, header extension and advanced content
// encryption object ids, as stored.
const std::string k_contentEncryption(
    "\xFB\xB3\x11\x22\x23\xBD\xD2\x11\xB4\xB7\x00\xA0\xC9\x55\xFC\x6E", 16);
const std::string k_extendedEncryption(
    "\x14\xE6\x8A\x29\x22\x26\x17\x4C\xB9\x35\xDA\xE0\x7E\xE9\x28\x9C", 16);
const std::string k_headerExtension(
    "\xB5\x03\xBF\x5F\x2E\xA9\xCF\x11\x8E\xE3\x00\xC0\x0C\x20\x53\x65", 16);
const std::string k_advancedEncryption(
    "\x33\x85\x05\x43\x81\x69\xE6\x49\x9B\x74\xAD\x12\xCB\x86\xD5\x8C", 16);

TEST_F(ProtectionProbe, Mp4FilesAreProtectedOnlyWhenEncrypted) {
    EXPECT_FALSE(Probe("plain.mp4"));
    EXPECT_TRUE(Probe("protected.mp4"));
    EXPECT_TRUE(Probe("protected.m4a"));

    // A protection-system header alone, in a fragment.
    EXPECT_TRUE(Probe(Write("pssh.mp4", k_ftyp + Box("moof", Box("pssh", std::string(24, '\0'))))));
    // The same bytes in a box the probe does not open, or after a foreign start, are no sign.
    EXPECT_FALSE(Probe(Write("udta.mp4", k_ftyp + Box("udta", Box("pssh", std::string(8, 'x'))))));
    EXPECT_FALSE(Probe(Write("text.mp4", "hello " + Box("pssh", ""))));
}

TEST_F(ProtectionProbe, AsfFilesAreProtectedByTheirEncryptionObjects) {
    const std::string asf = ReadFile(Path("plain.wmv"));
    EXPECT_FALSE(Probe("plain.wmv"));
    const std::string secret = LittleEndian(4, 4) + "abcd" + LittleEndian(4, 4) +
                               std::string("DRM", 4) + LittleEndian(2, 4) + "k1" +
                               LittleEndian(1, 4) + std::string(1, '\0');
    EXPECT_TRUE(
        Probe(Write("encrypted.wmv", WithAsfObject(asf, AsfObject(k_contentEncryption, secret)))));
    EXPECT_TRUE(Probe(
        Write("extended.wma",
              WithAsfObject(asf, AsfObject(k_extendedEncryption, LittleEndian(3, 4) + "xyz")))));
    const std::string advanced = AsfObject(k_advancedEncryption, LittleEndian(0, 2));
    const std::string extension =
        AsfObject(k_headerExtension, std::string(16, '\x11') + LittleEndian(6, 2) +
                                         LittleEndian(advanced.size(), 4) + advanced);
    EXPECT_TRUE(Probe(Write("advanced.asf", WithAsfObject(asf, extension))));
    // An object whose size reaches past the header ends the walk.
    std::string oversized = AsfObject(k_extendedEncryption, "");
    oversized.replace(16, 8, LittleEndian(UINT64_MAX, 8));
    EXPECT_FALSE(Probe(Write("oversized.asf", WithAsfObject(asf, oversized))));
}

TEST_F(ProtectionProbe, DamagedAndHostileFilesAreNotProtected) {
    const std::string protectedMp4 = ReadFile(Path("protected.mp4"));
    // Truncated: the movie box at the end is gone, the media data claims more than is there.
    EXPECT_FALSE(Probe(Write("truncated.mp4", protectedMp4.substr(0, protectedMp4.size() / 2))));
    EXPECT_FALSE(Probe(Write("header.mp4", protectedMp4.substr(0, 20))));
    // A 64-bit box size of 2^64-1, before a protection box that must not be reached.
    const std::string huge = BigEndian32(1) + "moov" + LittleEndian(UINT64_MAX, 8);
    EXPECT_FALSE(Probe(Write("huge.mp4", k_ftyp + huge + Box("pssh", ""))));
    // Boxes smaller than their own header and nested deeper than the bound.
    EXPECT_FALSE(Probe(Write("tiny.mp4", k_ftyp + BigEndian32(3) + "moov" + Box("pssh", ""))));
    constexpr uint32_t k_depth = 1000;
    std::string deep;
    for (uint32_t level = 0; level < k_depth; ++level) {
        deep += BigEndian32(8 * (k_depth - level) + 8) + "moov";
    }
    deep += Box("pssh", "");
    EXPECT_FALSE(Probe(Write("deep.mp4", k_ftyp + deep)));
    // Many empty boxes end at the box bound.
    std::string many = k_ftyp;
    for (uint32_t i = 0; i <= CVProtectionProbe::k_maxBoxes; ++i) {
        many += Box("free", "");
    }
    EXPECT_FALSE(Probe(Write("many.mp4", many + Box("pssh", ""))));

    EXPECT_FALSE(Probe("missing.mp4"));
    EXPECT_FALSE(Probe(Write("empty.mp4", "")));
    EXPECT_FALSE(CVProtectionProbe::IsContentProtected(qsys::FromUtf8(s_folder->Path())));
    ASSERT_EQ(::mkfifo(Path("fifo.mp4").c_str(), 0600), 0);
    EXPECT_FALSE(Probe("fifo.mp4"));
}

}  // namespace
