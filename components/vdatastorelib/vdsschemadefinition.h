#pragma once
// CVDSSchemaDefinition: the XML form of a datastore schema, read and written. The form:
//
//     <schema namespace="http://www.zelto.com/Ve2e/Transcoding#store">
//       <namespace uri="http://www.zelto.com/Ve2e/ns/transcode"/>
//       <schematype name="TranscodeQueueObj">
//         <inheritance><aspectof name="Item"/></inheritance>
//         <property name="TranscodingJobID" type="int"/>
//         <property name="TranscodeToPath" type="string" namespace="..."/>
//       </schematype>
//     </schema>
//
// - "schema" is the root; its optional "namespace" is the namespace of every property that
//   names none. "namespace" elements declare namespaces the datastore should know.
// - A "schematype" with an "inheritance" element holding "aspectof" name="Item" (or written
//   <inheritance aspectof="Item"/>) is an aspect of "Item": an item is of that type when it
//   carries every property the type lists, whatever its class. A schematype without
//   inheritance is a class of its own: the items whose class name is its name.
// - Property types: int, long, string, bool, double, date, item, any. They document the
//   values; the datastore keeps whatever VARIANT an item holds.
// - Names of schematypes and properties follow the filter grammar (see vdsfilter.h), so that
//   a filter can name them; "Item" is the root type and cannot be defined.
//
// Text that breaks any of this, or is larger than k_maxLength characters, raises
// VDSERR_INVALID_SCHEMA naming what is wrong. A leading byte-order mark is ignored.
//
// Stateless; any thread.

#include <string>
#include <string_view>
#include <vector>

struct SVDSSchemaProperty {
    std::wstring name;
    std::wstring uri;
    std::wstring type;
};

struct SVDSSchemaType {
    std::wstring name;
    // "Item" for an aspect of "Item"; empty for a class of its own.
    std::wstring aspectOf;
    std::vector<SVDSSchemaProperty> properties;

    bool IsAspect() const { return !aspectOf.empty(); }
};

struct SVDSSchema {
    std::vector<std::wstring> namespaces;
    std::vector<SVDSSchemaType> types;
};

class CVDSSchemaDefinition {
public:
    static constexpr size_t k_maxLength = 1 << 20;
    // The root type: every item is an "Item".
    static constexpr const wchar_t* k_rootType = L"Item";

    static SVDSSchema Parse(std::wstring_view xml);
    // The XML form of schema (each property names its namespace).
    static std::wstring ToXML(const SVDSSchema& schema);
    // Whether uri can be a namespace: non-empty, at most 2048 characters, no blanks or control
    // characters.
    static bool IsNamespaceUri(std::wstring_view uri);
};
