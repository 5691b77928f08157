#include "components/vdatastorelib/vdsschemadefinition.h"

#include <gtest/gtest.h>

#include "components/vdatastorelib/vdatastorelib.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"

using qutilitylib::test::Raised;

TEST(CVDSSchemaDefinition, ReadsBothAspectFormsAndWritesWhatItReads) {
    const SVDSSchema schema = CVDSSchemaDefinition::Parse(
        L"\uFEFF<?xml version=\"1.0\"?><schema namespace=\"urn:store\">"
        L"<namespace uri=\"urn:extra\"/>"
        L"<schematype name=\"Queue\"><inheritance><aspectof name=\"Item\"/></inheritance>"
        L"<property name=\"JobID\" type=\"int\"/>"
        L"<property name=\"Path\" type=\"string\" namespace=\"urn:other\"/></schematype>"
        L"<schematype name=\"Tagged\"><inheritance aspectof=\"Item\"/></schematype>"
        L"<schematype name=\"Album\"><property name=\"Title\" type=\"string\"/></schematype>"
        L"</schema>");
    ASSERT_EQ(schema.types.size(), 3u);
    EXPECT_EQ(schema.namespaces, std::vector<std::wstring>{L"urn:extra"});
    EXPECT_TRUE(schema.types[0].IsAspect());
    EXPECT_TRUE(schema.types[1].IsAspect());
    EXPECT_FALSE(schema.types[2].IsAspect());
    ASSERT_EQ(schema.types[0].properties.size(), 2u);
    EXPECT_EQ(schema.types[0].properties[0].uri, L"urn:store");
    EXPECT_EQ(schema.types[0].properties[1].uri, L"urn:other");

    const SVDSSchema again = CVDSSchemaDefinition::Parse(CVDSSchemaDefinition::ToXML(schema));
    ASSERT_EQ(again.types.size(), 3u);
    EXPECT_EQ(again.types[0].properties[1].uri, L"urn:other");
    EXPECT_EQ(again.types[0].properties[0].type, L"int");
    EXPECT_TRUE(again.types[1].IsAspect());
    EXPECT_EQ(again.namespaces, schema.namespaces);
}

TEST(CVDSSchemaDefinition, RefusesWhatItCannotRead) {
    const wchar_t* broken[] = {
        L"",
        L"not xml at all",
        L"<schema>",
        L"<types/>",
        L"<schema><schematype/></schema>",
        L"<schema><schematype name=\"Item\"/></schema>",
        L"<schema><schematype name=\"a b\"/></schema>",
        L"<schema><schematype name=\"A\"><inheritance><aspectof name=\"File\"/>"
        L"</inheritance></schematype></schema>",
        L"<schema><schematype name=\"A\"><property name=\"P\" type=\"blob\"/></schematype>"
        L"</schema>",
        L"<schema><schematype name=\"A\"><property name=\"P\" type=\"int\"/>"
        L"<property name=\"P\" type=\"int\"/></schematype></schema>",
        L"<schema namespace=\"has space\"/>",
        L"<schema><table/></schema>",
    };
    for (const wchar_t* text : broken) {
        const auto error = Raised([&] { (void)CVDSSchemaDefinition::Parse(text); });
        ASSERT_TRUE(error) << testing::PrintToString(std::wstring(text));
        EXPECT_TRUE(error->HasErrorCode(VDSERR_INVALID_SCHEMA));
    }
}
