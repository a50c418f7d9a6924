#include "CommonOptions.h"

#include "Exceptions.h"
#include "Strings.h"

#include <cerrno>
#include <cwchar>
#include <cwctype>

std::wstring TOptionValue::ToText() const
{
    switch (kind_) {
    case Kind::Text: return text_;
    case Kind::Integer: return std::to_wstring(integer_);
    default: return {};
    }
}

int TOptionValue::ToInteger() const
{
    const char* type = "Null";
    switch (kind_) {
    case Kind::Integer:
        if (integer_ >= INT32_MIN && integer_ <= INT32_MAX)
            return static_cast<int>(integer_);
        type = "Int64";
        break;
    case Kind::Text: {
        // Decimal digits with an optional sign; surrounding blanks are allowed, as the variant library does.
        const wchar_t* p = text_.c_str();
        while (std::iswspace(*p))
            ++p;
        wchar_t* end = nullptr;
        errno = 0;
        long long v = std::wcstoll(p, &end, 10);
        if (end != p && errno == 0 && v >= INT32_MIN && v <= INT32_MAX) {
            while (std::iswspace(*end))
                ++end;
            if (*end == 0)
                return static_cast<int>(v);
        }
        type = "UnicodeString";
        break;
    }
    case Kind::Missing: type = "Missing"; break;
    case Kind::Null: break;
    }
    throw Exception(Format("Could not convert variant of type (%s) into type (Integer)", type));
}
