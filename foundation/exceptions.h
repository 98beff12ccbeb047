#pragma once
// The exception family of the foundation library. An exception
// carries named fields (typed values) in the order in which their
// names were first added, and renders them as text in what(). Every
// construction with fields ends with the stack step (stack.h), which adds
// "Stack" when the symbol engine is available.
//
// what() renders into storage that each exception owns (rather than one
// buffer shared by the process): a text obtained from one exception is never rewritten by
// another exception's what(), on any thread. Rendering still runs under the
// process-wide rendering lock. Copies share the fields' values by reference
// count and never share a rendered text.
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <utility>
#include <vector>

#include "foundation/typed_value.h"

class EGeneric : public std::exception {
public:
    // One (name, value) pair of a construction; ints and strings become
    // owned typed values.
    struct Field {
        Field(std::string fieldName, _value_t_data::Ptr fieldValue)
            : name(std::move(fieldName)), value(std::move(fieldValue)) {}
        Field(std::string fieldName, std::int32_t fieldValue)
            : name(std::move(fieldName)), value(MakeValue(fieldValue)) {}
        Field(std::string fieldName, std::string fieldValue)
            : name(std::move(fieldName)), value(MakeValue(std::move(fieldValue))) {}
        Field(std::string fieldName, const char* fieldValue)
            : name(std::move(fieldName)), value(MakeValue(fieldValue)) {}

        std::string name;
        _value_t_data::Ptr value;
    };

    // No fields, and no stack step.
    EGeneric() noexcept = default;
    // Adds the fields in order (a repeated name replaces the value in place),
    // then runs the stack step.
    explicit EGeneric(std::initializer_list<Field> fields);
    EGeneric(const EGeneric& other) noexcept;
    EGeneric& operator=(const EGeneric& other) noexcept;
    ~EGeneric() override = default;

    // The rendered text; it stays valid until this exception's fields change
    // or it is destroyed.
    const char* what() const noexcept override;

    // A new name is added at the end; an existing name keeps its place and
    // gets the new value.
    void SetField(std::string_view name, _value_t_data::Ptr value);
    void SetField(std::string_view name, std::int32_t value) { SetField(name, MakeValue(value)); }
    void SetField(std::string_view name, std::string value) { SetField(name, MakeValue(std::move(value))); }
    void SetField(std::string_view name, const char* value) { SetField(name, MakeValue(value)); }

    // The value of a field, or null when there is no field of that name (or
    // the field holds no value).
    _value_t_data::Ptr GetField(std::string_view name) const;
    bool HasField(std::string_view name) const;
    std::vector<std::string> FieldNames() const;  // in order

private:
    using FieldList = std::vector<std::pair<std::string, _value_t_data::Ptr>>;

    std::string Render() const;

    // Shared with copies until one of them changes its fields (copy on
    // write), so that copying never allocates and never throws.
    std::shared_ptr<FieldList> fields_;
    mutable std::string rendered_;  // guarded by the rendering lock
};

// "Code": the code as an integer; "Text": the system's message for it.
class ESystemException : public EGeneric {
public:
    explicit ESystemException(std::uint32_t code);
};

// "Text": "Bad cast"; "From": the source type; "To": the target type.
class EBadCastException : public EGeneric {
public:
    EBadCastException(const std::type_info& to, const std::type_info& from);
};

// "Text": "Not implemented"; "SourceFile"; "SourceLine"; "Function".
class ENotImplemented : public EGeneric {
public:
    ENotImplemented(const std::string& function, const std::string& sourceFile, std::int32_t sourceLine);
};

// The original's wrapper of a hardware fault, whose saved processor context
// the stack step walked. Linux reports faults as signals, which this program
// never turns into exceptions: the type adds nothing and is never raised.
class EStructuredException : public EGeneric {
public:
    using EGeneric::EGeneric;
};

// Raises ESystemException with the calling thread's errno.
[[noreturn]] void ThrowSystemError();
// Raises ESystemException with the given code (pthread calls return their
// error instead of setting errno).
[[noreturn]] void ThrowSystemError(int code);

// The system's message for a code (strerror_r), without line breaks at its
// end; empty when the system knows no message for the code.
std::string SystemMessageText(std::uint32_t code);
// Removes every carriage return and line feed at the end of the text.
std::string TrimTrailingLineBreaks(std::string text);
