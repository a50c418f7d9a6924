#include "ClassesHooks.h"

TStringAttr* FindOrCreateStringAttr(TComponent* component, const std::string& name)
{
    return FindOrCreateAttr<TStringAttr>(component, name);
}
