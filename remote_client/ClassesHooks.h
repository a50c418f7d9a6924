// Named attributes hung on a component as owned child components that carry a value.
#pragma once

#include "Exceptions.h"
#include "InterfaceObjects.h"

#include <memory>
#include <string>

class TCustomAttr : public TComponent {};

class TStringAttr : public TCustomAttr {
public:
    std::string Value;
};

// The component's owned component of that name, which must be a T (else the invalid-cast error); when there
// is none, a new T owned by the component and named with the name.
template <class T>
T* FindOrCreateAttr(TComponent* component, const std::string& name)
{
    if (TComponent* found = component->FindComponent(name)) {
        auto* attr = dynamic_cast<T*>(found);
        if (!attr)
            throw Exception("Invalid class typecast");
        return attr;
    }
    auto attr = std::make_unique<T>();
    // A name that cannot be given frees the new instance with its owner here and passes the error on.
    attr->SetName(name);
    return static_cast<T*>(component->InsertComponent(std::move(attr)));
}

TStringAttr* FindOrCreateStringAttr(TComponent* component, const std::string& name);
