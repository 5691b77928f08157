#include "qlib/qbus/qbusvaluecodec.h"

#include <limits>

#include "qlib/qbus/qbuserror.h"
#include "qlib/qbus/qbusitemcodec.h"
#include "qlib/qsys/textcodec.h"

namespace {

// The D-Bus type of a scalar VT code (an array element or a tagged value); empty for codes
// without a scalar form.
std::string ScalarSignature(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_I2:
            return "n";
        case VT_I4:
        case VT_INT:
        case VT_ERROR:
            return "i";
        case VT_UI4:
        case VT_UINT:
            return "u";
        case VT_I8:
            return "x";
        case VT_UI8:
            return "t";
        case VT_R4:
        case VT_R8:
        case VT_DATE:
            return "d";
        case VT_BOOL:
        case VT_EMPTY:
        case VT_NULL:
            return "b";
        case VT_BSTR:
            return "s";
        case VT_UI1:
            return "y";
        case VT_UI2:
            return "q";
        default:
            return {};
    }
}

// The element signature of an array of `elementVt`.
std::string ElementSignature(VARTYPE elementVt) {
    if (elementVt == VT_VARIANT || elementVt == VT_DISPATCH || elementVt == VT_UNKNOWN) {
        return CQBusValueCodec::k_variantSignature;
    }
    return ScalarSignature(elementVt);
}

[[noreturn]] void NoBusForm(VARTYPE vt) {
    throw CQBusError::FromHResult(DISP_E_BADVARTYPE, L"A value of type " + std::to_wstring(vt) +
                                                         L" cannot travel on the bus.");
}

template <class T>
T Read(sdbus::Message& message) {
    T value{};
    message >> value;
    return value;
}

void WriteScalar(sdbus::Message& message, const VARIANT& value) {
    switch (value.Vt()) {
        case VT_I1:
            message << static_cast<int16_t>(value.Get<int8_t>());
            break;
        case VT_I2:
            message << value.Get<int16_t>();
            break;
        case VT_I4:
        case VT_INT:
        case VT_ERROR:
            message << value.Get<int32_t>();
            break;
        case VT_UI4:
        case VT_UINT:
            message << value.Get<uint32_t>();
            break;
        case VT_I8:
            message << value.Get<int64_t>();
            break;
        case VT_UI8:
            message << value.Get<uint64_t>();
            break;
        case VT_R4:
            message << static_cast<double>(value.Get<float>());
            break;
        case VT_R8:
        case VT_DATE:
            message << value.Get<double>();
            break;
        case VT_BOOL:
            message << (value.Get<VARIANT_BOOL>() != VARIANT_FALSE);
            break;
        case VT_EMPTY:
        case VT_NULL:
            message << false;
            break;
        case VT_BSTR:
            CQBusValueCodec::WriteString(message, value.Get<BSTR>());
            break;
        case VT_UI1:
            message << value.Get<uint8_t>();
            break;
        case VT_UI2:
            message << value.Get<uint16_t>();
            break;
        default:
            NoBusForm(value.Vt());
    }
}

VARIANT ReadScalar(sdbus::Message& message, VARTYPE vt) {
    switch (vt) {
        case VT_I1: {
            const int16_t wide = Read<int16_t>(message);
            if (wide < std::numeric_limits<int8_t>::min() ||
                wide > std::numeric_limits<int8_t>::max()) {
                throw CQBusError::InvalidArgument("a VT_I1 value out of range");
            }
            return VARIANT(static_cast<int8_t>(wide));
        }
        case VT_I2:
            return VARIANT(Read<int16_t>(message));
        case VT_I4:
            return VARIANT(Read<int32_t>(message));
        case VT_INT:
            return VARIANT::Int(Read<int32_t>(message));
        case VT_ERROR:
            return VARIANT::Error(Read<int32_t>(message));
        case VT_UI4:
            return VARIANT(Read<uint32_t>(message));
        case VT_UINT:
            return VARIANT::UInt(Read<uint32_t>(message));
        case VT_I8:
            return VARIANT(Read<int64_t>(message));
        case VT_UI8:
            return VARIANT(Read<uint64_t>(message));
        case VT_R4:
            return VARIANT(static_cast<float>(Read<double>(message)));
        case VT_R8:
            return VARIANT(Read<double>(message));
        case VT_DATE:
            return VARIANT::Date(Read<double>(message));
        case VT_BOOL:
            return VARIANT(Read<bool>(message));
        case VT_EMPTY:
            Read<bool>(message);
            return VARIANT();
        case VT_NULL:
            Read<bool>(message);
            return VARIANT::Null();
        case VT_BSTR:
            return VARIANT(CQBusValueCodec::ReadString(message));
        case VT_UI1:
            return VARIANT(Read<uint8_t>(message));
        case VT_UI2:
            return VARIANT(Read<uint16_t>(message));
        default:
            throw CQBusError::InvalidArgument("unknown VT code " + std::to_string(vt));
    }
}

void CheckDepth(int depth) {
    if (depth > CQBusValueCodec::k_maxDepth) {
        throw CQBusError::InvalidArgument("values nested more than " +
                                          std::to_string(CQBusValueCodec::k_maxDepth) +
                                          " levels deep");
    }
}

// An object as the value of a tagged VARIANT: an item, an enumeration or null.
void WriteObject(sdbus::Message& message, IUnknown* object, int depth) {
    if (object == nullptr) {
        message.openVariant("b");
        message << false;
        message.closeVariant();
        return;
    }
    CComPtr<IVItem> item;
    CComPtr<IVEnum> items;
    if (SUCCEEDED(object->QueryInterface(IVItem::k_iid, item.Put()))) {
        message.openVariant(CQBusItemCodec::k_itemSignature);
        CQBusItemCodec::WriteItem(message, item.Get(), depth + 1);
    } else if (SUCCEEDED(object->QueryInterface(IVEnum::k_iid, items.Put()))) {
        message.openVariant(CQBusItemCodec::k_enumSignature);
        CQBusItemCodec::WriteEnum(message, items.Get(), depth + 1);
    } else {
        NoBusForm(VT_DISPATCH);
    }
    message.closeVariant();
}

VARIANT ReadObject(sdbus::Message& message, VARTYPE vt, const std::string& signature, int depth) {
    VARIANT value;
    message.enterVariant(signature);
    if (signature == "b") {
        if (Read<bool>(message)) {
            throw CQBusError::InvalidArgument("an object given as 'true'");
        }
        value = vt == VT_DISPATCH ? VARIANT(static_cast<IDispatch*>(nullptr))
                                  : VARIANT(static_cast<IUnknown*>(nullptr));
    } else if (signature == CQBusItemCodec::k_itemSignature) {
        value = VARIANT(CQBusItemCodec::ReadItem(message, depth + 1));
    } else if (signature == CQBusItemCodec::k_enumSignature) {
        value = VARIANT(CQBusItemCodec::ReadEnum(message, depth + 1));
    } else {
        throw CQBusError::InvalidArgument(
            "an object value must be an item, an enumeration or "
            "'b' false, not '" +
            signature + "'");
    }
    message.exitVariant();
    if (vt == VT_UNKNOWN) {
        value = VARIANT(value.Unknown());
    }
    return value;
}

void WriteArray(sdbus::Message& message, const SAFEARRAY& array, int depth) {
    const VARTYPE elementVt = array.ElementVt();
    const std::string element = ElementSignature(elementVt);
    if (element.empty()) {
        NoBusForm(VT_ARRAY | elementVt);
    }
    message.openVariant("a" + element);
    message.openContainer(element);
    for (const VARIANT& value : array.Elements()) {
        if (element == CQBusValueCodec::k_variantSignature) {
            CQBusValueCodec::WriteVariant(message, value, depth + 1);
        } else {
            WriteScalar(message, value);
        }
    }
    message.closeContainer();
    message.closeVariant();
}

VARIANT ReadArray(sdbus::Message& message, VARTYPE vt, const std::string& signature, int depth) {
    const VARTYPE elementVt = vt & VT_TYPEMASK;
    const std::string element = ElementSignature(elementVt);
    if (element.empty() || !SAFEARRAY::IsElementType(elementVt) || signature != "a" + element) {
        throw CQBusError::InvalidArgument("VT code " + std::to_string(vt) +
                                          " does not match the value's type '" + signature + "'");
    }
    SAFEARRAY array(elementVt);
    message.enterVariant(signature);
    message.enterContainer(element);
    while (!CQBusValueCodec::AtEnd(message)) {
        if (array.Count() == CQBusValueCodec::k_maxElements) {
            throw CQBusError::InvalidArgument("an array of more than " +
                                              std::to_string(CQBusValueCodec::k_maxElements) +
                                              " elements");
        }
        const VARIANT value = element == CQBusValueCodec::k_variantSignature
                                  ? CQBusValueCodec::ReadVariant(message, depth + 1)
                                  : ReadScalar(message, elementVt);
        if (FAILED(array.Append(value))) {
            throw CQBusError::InvalidArgument("an array element of the wrong type");
        }
    }
    message.exitContainer();
    message.exitVariant();
    return VARIANT(std::move(array));
}

}  // namespace

std::string CQBusValueCodec::Signature(const ParamInfo& param) {
    if (param.vt == VT_VARIANT) {
        return k_variantSignature;
    }
    if (param.vt == VT_DISPATCH || param.vt == VT_UNKNOWN) {
        const IID iid = param.iid != nullptr ? *param.iid : IID_NULL;
        return iid == IVItem::k_iid            ? CQBusItemCodec::k_itemSignature
               : iid == IVEnum::k_iid          ? CQBusItemCodec::k_enumSignature
               : iid == IVTranscodeItem::k_iid ? "s"
                                               : k_variantSignature;
    }
    const std::string scalar = ScalarSignature(param.vt);
    if (scalar.empty() || param.vt == VT_EMPTY || param.vt == VT_NULL) {
        NoBusForm(param.vt);
    }
    return scalar;
}

void CQBusValueCodec::WriteParam(sdbus::Message& message, const ParamInfo& param,
                                 const VARIANT& value) {
    const std::string signature = Signature(param);
    if (signature == k_variantSignature) {
        WriteVariant(message, value);
    } else if (param.vt == VT_DISPATCH || param.vt == VT_UNKNOWN) {
        CComPtr<IUnknown> object(value.Unknown());
        if (signature == "s") {
            CQBusItemCodec::WriteTranscodeItem(message, object.Get());
        } else if (signature == CQBusItemCodec::k_itemSignature) {
            CComPtr<IVItem> item;
            if (object != nullptr) {
                object->QueryInterface(IVItem::k_iid, item.Put());
            }
            CQBusItemCodec::WriteItem(message, item.Get(), 0);
        } else {
            CComPtr<IVEnum> items;
            if (object != nullptr) {
                object->QueryInterface(IVEnum::k_iid, items.Put());
            }
            CQBusItemCodec::WriteEnum(message, items.Get(), 0);
        }
    } else {
        VARIANT converted;
        const HRESULT hr = VariantChangeType(&converted, &value, 0, param.vt);
        if (FAILED(hr)) {
            throw CQBusError::FromHResult(hr, std::nullopt);
        }
        WriteScalar(message, converted);
    }
}

VARIANT CQBusValueCodec::ReadParam(sdbus::Message& message, const ParamInfo& param) {
    const std::string signature = Signature(param);
    ExpectSignature(message, signature);
    if (signature == k_variantSignature) {
        return ReadVariant(message);
    }
    if (param.vt == VT_DISPATCH || param.vt == VT_UNKNOWN) {
        VARIANT object = signature == "s" ? VARIANT(CQBusItemCodec::ReadTranscodeItem(message))
                         : signature == CQBusItemCodec::k_itemSignature
                             ? VARIANT(CQBusItemCodec::ReadItem(message, 0))
                             : VARIANT(CQBusItemCodec::ReadEnum(message, 0));
        return param.vt == VT_UNKNOWN ? VARIANT(object.Unknown()) : object;
    }
    return ReadScalar(message, param.vt);
}

void CQBusValueCodec::WriteVariant(sdbus::Message& message, const VARIANT& value, int depth) {
    CheckDepth(depth);
    message.openStruct("qv");
    message << static_cast<uint16_t>(value.Vt());
    if ((value.Vt() & VT_ARRAY) != 0) {
        WriteArray(message, value.Get<SAFEARRAY>(), depth);
    } else if (value.Vt() == VT_DISPATCH || value.Vt() == VT_UNKNOWN) {
        WriteObject(message, value.Unknown(), depth);
    } else {
        const std::string signature = ScalarSignature(value.Vt());
        if (signature.empty()) {
            NoBusForm(value.Vt());
        }
        message.openVariant(signature);
        WriteScalar(message, value);
        message.closeVariant();
    }
    message.closeStruct();
}

VARIANT CQBusValueCodec::ReadVariant(sdbus::Message& message, int depth) {
    CheckDepth(depth);
    ExpectSignature(message, k_variantSignature);
    message.enterStruct("qv");
    const VARTYPE vt = Read<uint16_t>(message);
    std::string type;
    std::string signature;
    message.peekType(type, signature);
    VARIANT value;
    if ((vt & VT_ARRAY) != 0) {
        value = ReadArray(message, vt, signature, depth);
    } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
        value = ReadObject(message, vt, signature, depth);
    } else {
        const std::string expected = ScalarSignature(vt);
        if (expected.empty() || signature != expected) {
            throw CQBusError::InvalidArgument("VT code " + std::to_string(vt) +
                                              " does not match the value's type '" + signature +
                                              "'");
        }
        message.enterVariant(signature);
        value = ReadScalar(message, vt);
        message.exitVariant();
    }
    message.exitStruct();
    return value;
}

void CQBusValueCodec::WriteString(sdbus::Message& message, const std::wstring& text) {
    message << qsys::ToUtf8(text);
}

std::wstring CQBusValueCodec::ReadString(sdbus::Message& message) {
    const std::string bytes = Read<std::string>(message);
    if (bytes.size() > k_maxStringBytes) {
        throw CQBusError::InvalidArgument("a string of more than " +
                                          std::to_string(k_maxStringBytes) + " bytes");
    }
    auto text = qsys::FromUtf8Strict(bytes);
    if (!text) {
        throw CQBusError::InvalidArgument("a string that is not valid UTF-8");
    }
    return std::move(*text);
}

bool CQBusValueCodec::AtEnd(const sdbus::Message& message) {
    std::string type;
    std::string contents;
    message.peekType(type, contents);
    return type.empty() || type[0] == '\0';
}

void CQBusValueCodec::ExpectSignature(const sdbus::Message& message, const std::string& signature) {
    std::string type;
    std::string contents;
    message.peekType(type, contents);
    const std::string actual = type == "r"   ? "(" + contents + ")"
                               : type == "a" ? "a" + contents
                                             : type;
    if (actual != signature) {
        throw CQBusError::InvalidArgument("expected a value of type '" + signature + "', got '" +
                                          (type.empty() || type[0] == '\0' ? "nothing" : actual) +
                                          "'");
    }
}
