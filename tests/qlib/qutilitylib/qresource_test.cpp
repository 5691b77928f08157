// CQResource: data resources compiled into this test program (tests/qlib/qutilitylib/resources)
// and found under the type name "RT_RCDATA" only; the errors of a missing type or id.

#include "qlib/qutilitylib/qresource.h"

#include <gtest/gtest.h>

#include <string>

#include "qlib/qutilitylib/qbufmalloc.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"

using qutilitylib::test::Raised;
using qutilitylib::test::RealEntries;

namespace {

// resources/schema.xml: UTF-8 with a byte-order mark.
const std::string k_schemaBytes = "\xef\xbb\xbf<schema name=\"queue\">caf\xc3\xa9</schema>\n";

const unsigned char k_bytes[] = {'a', 'b', 0};

std::string Bytes(CQBufMalloc& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetSize());
}

void ExpectNotFound(const qsys::ResourceTable& module, uint32_t id, int code) {
    CQBufMalloc buffer;
    const auto error = Raised([&] { CQResource::LoadBinaryResource(module, id, buffer); });
    ASSERT_TRUE(error.has_value());
    const auto entries = RealEntries(*error);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].code, code);
    EXPECT_EQ(entries[0].function, L"CQResource::LoadBinaryResource");
    EXPECT_EQ(entries[0].values.at(L"ResourceType"), L"RT_RCDATA");
    EXPECT_EQ(entries[0].values.at(L"ResourceID"), std::to_wstring(id));
}

}  // namespace

TEST(CQResource, LoadsTheBytesCompiledIntoTheProgram) {
    CQBufMalloc buffer(4);
    CQResource::LoadBinaryResource(qsys::ResourceTable::Process(), 202, buffer);
    EXPECT_EQ(Bytes(buffer), k_schemaBytes);

    CQResource::LoadBinaryResource(qsys::ResourceTable::Process(), 203, buffer);
    EXPECT_EQ(buffer.GetSize(), 0u) << "an empty file is an empty resource";
}

TEST(CQResource, DecodesATextResourceByTheTextFileRules) {
    EXPECT_EQ(CQResource::LoadTextResource(qsys::ResourceTable::Process(), 202),
              L"<schema name=\"queue\">café</schema>\n");
}

TEST(CQResource, FindsResourcesOnlyUnderTheTypeNameRtRcdata) {
    const qsys::ResourceRecord numericType[] = {{"10", 202, k_bytes, 2}};
    ExpectNotFound(qsys::ResourceTable(numericType), 202, HRESULT_FROM_WIN32(1813));

    const qsys::ResourceRecord otherId[] = {{"RT_RCDATA", 201, k_bytes, 2}};
    ExpectNotFound(qsys::ResourceTable(otherId), 202, HRESULT_FROM_WIN32(1814));

    const qsys::ResourceRecord anyCase[] = {{"10", 202, k_bytes + 1, 1},
                                            {"rt_RcData", 202, k_bytes, 2}};
    CQBufMalloc buffer;
    CQResource::LoadBinaryResource(qsys::ResourceTable(anyCase), 202, buffer);
    EXPECT_EQ(Bytes(buffer), "ab");

    ExpectNotFound(qsys::ResourceTable::Process(), 999, HRESULT_FROM_WIN32(1814));
}
