#include "components/vdatastorelib/vdsschemadefinition.h"

#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <sstream>

#include "components/vdatastorelib/vdatastorelib.h"
#include "components/vdatastorelib/vdsfilter.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qexception.h"

namespace {

constexpr std::array<std::wstring_view, 8> k_propertyTypes = {
    L"int", L"long", L"string", L"bool", L"double", L"date", L"item", L"any"};

[[noreturn]] void Fail(const std::wstring& reason) {
    throw CQException(L"The schema is not understood: " + reason + L".", VDSERR_INVALID_SCHEMA);
}

std::wstring Wide(const char* text) {
    return qsys::FromUtf8(text);
}

std::wstring Attribute(const pugi::xml_node& node, const char* name) {
    return Wide(node.attribute(name).value());
}

std::wstring RequiredName(const pugi::xml_node& node, const wchar_t* what) {
    const std::wstring name = Attribute(node, "name");
    if (!CVDSFilter::IsName(name)) {
        Fail(std::wstring(what) + L" name '" + name + L"' is not a name");
    }
    return name;
}

std::wstring RequiredUri(const std::wstring& uri, const std::wstring& owner) {
    if (!CVDSSchemaDefinition::IsNamespaceUri(uri)) {
        Fail(L"the namespace '" + uri + L"' of " + owner + L" is not a namespace URI");
    }
    return uri;
}

std::wstring ReadInheritance(const pugi::xml_node& inheritance, const std::wstring& typeName) {
    std::wstring aspectOf = Attribute(inheritance, "aspectof");
    for (const pugi::xml_node& child : inheritance.children()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        if (std::string_view(child.name()) != "aspectof" || !aspectOf.empty()) {
            Fail(L"the inheritance of '" + typeName + L"' must name one aspectof");
        }
        aspectOf = Attribute(child, "name");
    }
    if (aspectOf != CVDSSchemaDefinition::k_rootType) {
        Fail(L"'" + typeName + L"' may only be an aspect of \"Item\", not of '" + aspectOf + L"'");
    }
    return aspectOf;
}

SVDSSchemaProperty ReadProperty(const pugi::xml_node& node, const std::wstring& typeName,
                                const std::wstring& defaultUri) {
    SVDSSchemaProperty property;
    property.name = RequiredName(node, L"a property");
    const std::wstring owner = L"'" + typeName + L"." + property.name + L"'";
    property.uri =
        node.attribute("namespace") ? RequiredUri(Attribute(node, "namespace"), owner) : defaultUri;
    property.type = Attribute(node, "type");
    if (std::find(k_propertyTypes.begin(), k_propertyTypes.end(), property.type) ==
        k_propertyTypes.end()) {
        Fail(L"the type '" + property.type + L"' of " + owner + L" is unknown");
    }
    return property;
}

SVDSSchemaType ReadType(const pugi::xml_node& node, const std::wstring& defaultUri) {
    SVDSSchemaType type;
    type.name = RequiredName(node, L"a schematype");
    if (type.name == CVDSSchemaDefinition::k_rootType) {
        Fail(L"\"Item\" is the root type and cannot be defined");
    }
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        const std::string_view element = child.name();
        if (element == "inheritance") {
            type.aspectOf = ReadInheritance(child, type.name);
        } else if (element == "property") {
            SVDSSchemaProperty property = ReadProperty(child, type.name, defaultUri);
            for (const SVDSSchemaProperty& known : type.properties) {
                if (known.name == property.name && known.uri == property.uri) {
                    Fail(L"'" + type.name + L"' lists the property '" + property.name + L"' twice");
                }
            }
            type.properties.push_back(std::move(property));
        } else {
            Fail(L"unexpected element '" + Wide(child.name()) + L"' in '" + type.name + L"'");
        }
    }
    return type;
}

}  // namespace

SVDSSchema CVDSSchemaDefinition::Parse(std::wstring_view xml) {
    if (!xml.empty() && xml.front() == L'\uFEFF') {
        xml.remove_prefix(1);
    }
    if (xml.size() > k_maxLength) {
        Fail(L"it is longer than 1048576 characters");
    }
    const std::string bytes = qsys::ToUtf8(xml);
    pugi::xml_document document;
    const pugi::xml_parse_result parsed =
        document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!parsed) {
        Fail(L"it is no well-formed XML (" + Wide(parsed.description()) + L" at offset " +
             std::to_wstring(parsed.offset) + L")");
    }
    const pugi::xml_node root = document.document_element();
    if (std::string_view(root.name()) != "schema") {
        Fail(L"the root element is '" + Wide(root.name()) + L"', not 'schema'");
    }
    const std::wstring defaultUri = root.attribute("namespace")
                                        ? RequiredUri(Attribute(root, "namespace"), L"the schema")
                                        : std::wstring();
    SVDSSchema schema;
    for (const pugi::xml_node& child : root.children()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        const std::string_view element = child.name();
        if (element == "schematype") {
            schema.types.push_back(ReadType(child, defaultUri));
        } else if (element == "namespace") {
            schema.namespaces.push_back(RequiredUri(Attribute(child, "uri"), L"a namespace"));
        } else {
            Fail(L"unexpected element '" + Wide(child.name()) + L"' in the schema");
        }
    }
    return schema;
}

std::wstring CVDSSchemaDefinition::ToXML(const SVDSSchema& schema) {
    pugi::xml_document document;
    pugi::xml_node root = document.append_child("schema");
    for (const std::wstring& uri : schema.namespaces) {
        root.append_child("namespace").append_attribute("uri") = qsys::ToUtf8(uri).c_str();
    }
    for (const SVDSSchemaType& type : schema.types) {
        pugi::xml_node node = root.append_child("schematype");
        node.append_attribute("name") = qsys::ToUtf8(type.name).c_str();
        if (type.IsAspect()) {
            node.append_child("inheritance").append_child("aspectof").append_attribute("name") =
                qsys::ToUtf8(type.aspectOf).c_str();
        }
        for (const SVDSSchemaProperty& property : type.properties) {
            pugi::xml_node element = node.append_child("property");
            element.append_attribute("name") = qsys::ToUtf8(property.name).c_str();
            element.append_attribute("type") = qsys::ToUtf8(property.type).c_str();
            element.append_attribute("namespace") = qsys::ToUtf8(property.uri).c_str();
        }
    }
    std::ostringstream text;
    document.save(text, "  ", pugi::format_default, pugi::encoding_utf8);
    return qsys::FromUtf8(text.str());
}

bool CVDSSchemaDefinition::IsNamespaceUri(std::wstring_view uri) {
    constexpr size_t k_maxUriLength = 2048;
    if (uri.empty() || uri.size() > k_maxUriLength) {
        return false;
    }
    return std::none_of(uri.begin(), uri.end(), [](wchar_t character) {
        return character <= L' ' || character == 0x7F || character == L'<' || character == L'>' ||
               character == L'"';
    });
}
