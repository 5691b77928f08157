#include "qlib/qcom/unknown.h"

namespace {

// The identity pointer of an object, without keeping the reference QueryInterface added. An
// object that does not answer IUnknown (a broken one) is only the same as itself.
void* IdentityOf(IUnknown* object) {
    if (object == nullptr) {
        return nullptr;
    }
    void* identity = nullptr;
    if (FAILED(object->QueryInterface(IID_IUnknown, &identity))) {
        return object;
    }
    static_cast<IUnknown*>(identity)->Release();
    return identity;
}

}  // namespace

bool IsSameObject(IUnknown* left, IUnknown* right) {
    return IdentityOf(left) == IdentityOf(right);
}
