#include "components/vdatastorelib/vdsvaluecodec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "components/vdatastorelib/vdatastorelib.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"

using qutilitylib::test::Raised;

namespace {

std::vector<VARIANT> EveryScalar() {
    return {
        VARIANT(),
        VARIANT::Null(),
        VARIANT(int8_t{-7}),
        VARIANT(uint8_t{250}),
        VARIANT(int16_t{-30000}),
        VARIANT(uint16_t{65000}),
        VARIANT(int32_t{std::numeric_limits<int32_t>::min()}),
        VARIANT(uint32_t{4000000000u}),
        VARIANT::Int(-5),
        VARIANT::UInt(5),
        VARIANT(int64_t{std::numeric_limits<int64_t>::min()}),
        VARIANT(uint64_t{std::numeric_limits<uint64_t>::max()}),
        VARIANT(1.5f),
        VARIANT(-2.25e300),
        VARIANT::Date(45000.75),
        VARIANT(true),
        VARIANT(false),
        VARIANT::Error(static_cast<SCODE>(0x80020004)),
        VARIANT(L""),
        VARIANT(L"caf\u00e9 \"quoted\" \\ \U0001F600 \u0001"),
    };
}

}  // namespace

TEST(CVDSValueCodec, EveryScalarTypeComesBackWithItsTypeAndValue) {
    for (const VARIANT& value : EveryScalar()) {
        const VARIANT decoded = CVDSValueCodec::Decode(CVDSValueCodec::Encode(value));
        EXPECT_EQ(decoded.Vt(), value.Vt());
        EXPECT_EQ(decoded, value) << "VT " << value.Vt();
    }
}

TEST(CVDSValueCodec, ArraysKeepElementTypeBoundsAndNesting) {
    SAFEARRAY integers(VT_I4, 3, -1);
    ASSERT_EQ(integers.PutElement(-1, VARIANT(10)), S_OK);
    ASSERT_EQ(integers.PutElement(1, VARIANT(30)), S_OK);
    SAFEARRAY strings(VT_BSTR, 2);
    ASSERT_EQ(strings.PutElement(1, VARIANT(L"two")), S_OK);
    SAFEARRAY mixed(VT_VARIANT);
    for (const VARIANT& value : EveryScalar()) {
        ASSERT_EQ(mixed.Append(value), S_OK);
    }
    ASSERT_EQ(mixed.Append(VARIANT(integers)), S_OK);
    const VARIANT values[] = {VARIANT(integers), VARIANT(strings), VARIANT(mixed),
                              VARIANT(SAFEARRAY(VT_R8))};
    for (const VARIANT& value : values) {
        const VARIANT decoded = CVDSValueCodec::Decode(CVDSValueCodec::Encode(value));
        EXPECT_EQ(decoded.Vt(), value.Vt());
        EXPECT_EQ(decoded, value);
        EXPECT_EQ(decoded.Get<SAFEARRAY>().LowerBound(), value.Get<SAFEARRAY>().LowerBound());
    }
}

TEST(CVDSValueCodec, DamagedBytesAreAnUnusableDatastoreNeverAnOverread) {
    SAFEARRAY strings(VT_BSTR, 2);
    ASSERT_EQ(strings.PutElement(0, VARIANT(L"some text")), S_OK);
    const std::string good = CVDSValueCodec::Encode(VARIANT(strings));
    std::vector<std::string> damaged = {"", std::string("\x08\x00\xff\xff\xff\x7f", 6),
                                        std::string("\x63\x00", 2), good + "x"};
    for (size_t length = 0; length < good.size(); ++length) {
        damaged.push_back(good.substr(0, length));
    }
    // A huge element count must not allocate before it is checked against the bytes left.
    std::string huge = good.substr(0, 6) + std::string("\xff\xff\xff\x0f", 4);
    damaged.push_back(huge);
    for (const std::string& bytes : damaged) {
        const auto error = Raised([&] { (void)CVDSValueCodec::Decode(bytes); });
        ASSERT_TRUE(error) << bytes.size();
        EXPECT_TRUE(error->HasErrorCode(VDSERR_DATASTORE_UNUSABLE));
    }
}
