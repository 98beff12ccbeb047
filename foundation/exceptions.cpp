#include "foundation/exceptions.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "foundation/critical_section.h"
#include "foundation/stack.h"
#include "foundation/type_name.h"

namespace {

// The process-wide rendering lock, made on first use and never destroyed, so
// that exceptions can still be rendered while static objects are destroyed.
TCriticalSection& RenderLock() {
    static TCriticalSection* lock = new TCriticalSection;
    return *lock;
}

// strerror_r comes in two forms: GNU (returns the text, under _GNU_SOURCE,
// which g++ defines) and XSI (returns 0 or an error code).
[[maybe_unused]] std::string FromStrerror(int rc, const char* buffer) { return rc == 0 ? buffer : ""; }
[[maybe_unused]] std::string FromStrerror(const char* text, const char*) { return text ? text : ""; }

}  // namespace

// ---- EGeneric -----------------------------------------------------------------

EGeneric::EGeneric(std::initializer_list<Field> fields) {
    for (const Field& field : fields) {
        SetField(field.name, field.value);
    }
    if (std::optional<std::string> stack = CurrentStackText()) {
        SetField("Stack", std::move(*stack));
    }
}

EGeneric::EGeneric(const EGeneric& other) noexcept : std::exception(other), fields_(other.fields_) {}

EGeneric& EGeneric::operator=(const EGeneric& other) noexcept {
    if (this != &other) {
        std::exception::operator=(other);
        fields_ = other.fields_;
    }
    return *this;
}

void EGeneric::SetField(std::string_view name, _value_t_data::Ptr value) {
    if (!fields_) {
        fields_ = std::make_shared<FieldList>();
    } else if (fields_.use_count() > 1) {
        fields_ = std::make_shared<FieldList>(*fields_);
    }
    for (auto& [fieldName, fieldValue] : *fields_) {
        if (fieldName == name) {
            fieldValue = std::move(value);
            return;
        }
    }
    fields_->emplace_back(std::string(name), std::move(value));
}

_value_t_data::Ptr EGeneric::GetField(std::string_view name) const {
    if (fields_) {
        for (const auto& [fieldName, fieldValue] : *fields_) {
            if (fieldName == name) {
                return fieldValue;
            }
        }
    }
    return nullptr;
}

bool EGeneric::HasField(std::string_view name) const {
    if (fields_) {
        for (const auto& field : *fields_) {
            if (field.first == name) {
                return true;
            }
        }
    }
    return false;
}

std::vector<std::string> EGeneric::FieldNames() const {
    std::vector<std::string> names;
    if (fields_) {
        for (const auto& field : *fields_) {
            names.push_back(field.first);
        }
    }
    return names;
}

std::string EGeneric::Render() const {
    std::string text;
    if (!fields_) {
        return text;
    }
    if (fields_->size() == 1 && fields_->front().first == "Text") {
        const _value_t_data* value = fields_->front().second.Get();
        return value && value->GetType() != kKindEmpty ? ValueToText(value) : text;
    }
    bool first = true;
    for (const auto& [name, holder] : *fields_) {
        if (!first) {
            text += '\n';
        }
        first = false;
        text += name;
        text += ": ";
        const _value_t_data* value = holder.Get();
        if (!value || value->GetType() == kKindEmpty) {
            continue;
        }
        try {
            text += ValueToText(value);
        } catch (const std::exception&) {
            // A value that cannot become text (a COM string the locale
            // cannot represent) must not cost the other fields.
            text += "<no text>";
            continue;
        }
        if (value->GetType() == kKindInt) {
            char hex[16];
            std::snprintf(hex, sizeof hex, " (0x%x)", static_cast<unsigned>(value->GetUInt()));
            text += hex;
        }
    }
    return text;
}

const char* EGeneric::what() const noexcept {
    try {
        TLockGuard guard(RenderLock());
        std::string text = Render();
        // Unchanged text is not rewritten: a pointer handed out earlier stays
        // valid, and a second reader of an unchanged exception writes nothing.
        if (text != rendered_) {
            rendered_ = std::move(text);
        }
        return rendered_.c_str();
    } catch (...) {
        // Only allocation or the lock can fail here; what() must not throw.
        return "EGeneric: the text could not be rendered";
    }
}

// ---- subclasses ---------------------------------------------------------------

ESystemException::ESystemException(std::uint32_t code)
    : EGeneric({{"Code", static_cast<std::int32_t>(code)}, {"Text", SystemMessageText(code)}}) {}

EBadCastException::EBadCastException(const std::type_info& to, const std::type_info& from)
    : EGeneric({{"Text", "Bad cast"}, {"From", TypeName(from)}, {"To", TypeName(to)}}) {}

ENotImplemented::ENotImplemented(const std::string& function, const std::string& sourceFile, std::int32_t sourceLine)
    : EGeneric({{"Text", "Not implemented"},
                {"SourceFile", sourceFile},
                {"SourceLine", sourceLine},
                {"Function", function}}) {}

void ThrowSystemError() { ThrowSystemError(errno); }

void ThrowSystemError(int code) { throw ESystemException(static_cast<std::uint32_t>(code)); }

// ---- system message text --------------------------------------------------------

std::string TrimTrailingLineBreaks(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
        text.pop_back();
    }
    return text;
}

std::string SystemMessageText(std::uint32_t code) {
    if (code > static_cast<std::uint32_t>(INT_MAX)) {
        return {};
    }
    const int error = static_cast<int>(code);
#if defined(__GLIBC__)
    // glibc makes up "Unknown error N" for codes it has no message for; the
    // original gave an empty text for those.
    if (strerrorname_np(error) == nullptr) {
        return {};
    }
#endif
    char buffer[256] = {};
    return TrimTrailingLineBreaks(FromStrerror(strerror_r(error, buffer, sizeof buffer), buffer));
}
