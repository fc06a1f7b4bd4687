/// @file
/// The framework's dynamic value.
#ifndef EKVALUE_EKVALUE_H
#define EKVALUE_EKVALUE_H

#include <cstddef>
#include <string>
#include <variant>
#include <vector>

#include <ekcommon/api.h>
#include <ekvalue/detail/ekbyteblock.h>

namespace EK {

/// @brief A dynamic value: empty, or a boolean, integer, float, string, byte block or array.
///
/// Images, method arguments and method results cross module boundaries as EKValues.
/// Values copy deeply and move cheaply; a byte block may share a buffer with its owner
/// (see the shared SetBinary), and a copy of it still gets bytes of its own. Reading a value as a
/// kind it does not hold, or an element outside an array, throws EKError (module "EKValue") instead
/// of guessing.
class EKFRAMEWORK_API EKValue {
 public:
  /// Kind codes. The numbers are part of the framework's vocabulary (2 bool, 3 int, 5 string).
  enum Type {
    TypeInvalid = 0,  ///< empty value
    TypeBool = 2,
    TypeInt = 3,
    TypeFloat = 4,
    TypeString = 5,
    TypeArray = 7,
    TypeBinary = 8,
  };

  /// An empty value: isValid() is false.
  EKValue();
  /// A deep copy of @p other.
  EKValue(const EKValue& other);
  /// Takes over the content of @p other, which is left empty or valid but unspecified.
  EKValue(EKValue&& other) noexcept;
  /// Replaces the content with a deep copy of @p other.
  EKValue& operator=(const EKValue& other);
  /// Replaces the content with that of @p other.
  EKValue& operator=(EKValue&& other) noexcept;
  /// Releases the content, elements and bytes included.
  ~EKValue();

  /// A boolean value.
  EKValue(const bool& value);  // NOLINT(google-explicit-constructor): values convert implicitly
  /// An integer value.
  EKValue(const int& value);  // NOLINT(google-explicit-constructor)
  /// A float value.
  EKValue(const float& value);  // NOLINT(google-explicit-constructor)
  /// A string value.
  EKValue(const std::string& value);  // NOLINT(google-explicit-constructor)
  /// A string value; null gives an empty string.
  EKValue(const char* value);  // NOLINT(google-explicit-constructor)
  /// A byte block holding its own copy of @p size bytes at @p data (see SetBinary).
  EKValue(const void* data, int size);

  /// Makes the value hold @p value (any previous content is dropped).
  EKValue& operator=(const bool& value);
  /// Makes the value the integer @p value.
  EKValue& operator=(const int& value);
  /// Makes the value the float @p value.
  EKValue& operator=(const float& value);
  /// Makes the value the string @p value.
  EKValue& operator=(const std::string& value);
  /// Makes the value the string @p value; null gives an empty string.
  EKValue& operator=(const char* value);

  /// Kind of the value.
  Type getType() const noexcept;
  /// A readable name of a kind: "invalid", "bool", "int", "float", "string", "array", "binary".
  static std::string TypeToString(Type type);

  /// False only for an empty value.
  bool isValid() const noexcept { return getType() != TypeInvalid; }
  /// Whether the value holds a boolean.
  bool isBool() const noexcept { return getType() == TypeBool; }
  /// Whether the value holds an integer.
  bool isInt() const noexcept { return getType() == TypeInt; }
  /// Whether the value holds a float.
  bool isFloat() const noexcept { return getType() == TypeFloat; }
  /// Whether the value holds a string.
  bool isString() const noexcept { return getType() == TypeString; }
  /// Whether the value holds an array.
  bool isArray() const noexcept { return getType() == TypeArray; }
  /// Whether the value holds a byte block.
  bool isBinary() const noexcept { return getType() == TypeBinary; }

  /// @brief Makes the value an array of @p size elements.
  ///
  /// An array keeps its first elements and gets empty ones appended; any other value
  /// becomes an array of @p size empty elements. Throws EKError when @p size is negative.
  void arraySetSize(int size);

  /// @brief Number of elements of an array, bytes of a byte block or a string; 0 otherwise.
  unsigned int getSize() const noexcept;

  /// Element @p index of an array, writable. Throws EKError for another kind or out of range.
  EKValue& operator[](int index);
  /// Element @p index of an array. Throws EKError for another kind or out of range.
  const EKValue& operator[](int index) const;

  /// Appends @p element to an array; an empty value first becomes an empty array.
  void arrayPush(const EKValue& element);

  /// @brief Makes the value a byte block holding its own copy of @p size bytes at @p data.
  ///
  /// @p data may be null only when @p size is 0. Throws EKError for a negative size.
  void SetBinary(const void* data, int size);
  /// Makes the value a byte block that takes over @p bytes without copying them.
  void SetBinary(std::vector<unsigned char>&& bytes);
  /// @brief Makes the value a byte block of the first @p size bytes of @p bytes, shared.
  ///
  /// Nothing is copied: the value keeps a share of the buffer, which its owner gets back
  /// (through the pointer's deleter) once every value moved from this one is gone. Copying
  /// the value copies the bytes, so the buffer is only ever written through this value.
  /// Throws EKError for a negative size, or a null buffer with a positive size.
  void SetBinary(std::shared_ptr<unsigned char> bytes, int size);
  /// @brief Address of the byte block's first byte, valid while the value lives unchanged.
  ///
  /// Null for an empty block. Throws EKError when the value is not a byte block.
  const void* GetBinary() const;
  /// Number of bytes of the byte block. Throws EKError when the value is not a byte block.
  int getBinarySize() const;

  /// The boolean held. Throws EKError unless the value is a boolean.
  operator bool() const;
  /// The integer held. Throws EKError unless the value is an integer.
  operator int() const;
  /// The integer held, writable. Throws EKError unless the value is an integer.
  operator int&();
  /// The float held; an integer is widened. Throws EKError for other kinds.
  operator float() const;
  /// The string held. Throws EKError unless the value is a string.
  operator const std::string&() const;

  // Non-const twins of the conversions above. Without them the writable `operator int&()`
  // would be preferred for every conversion of a non-const value (it binds the object
  // without adding const) and read a boolean, float or string as an integer.
  /// The boolean held, as the const conversion reads it.
  operator bool() { return static_cast<const EKValue&>(*this).operator bool(); }
  /// The float held, as the const conversion reads it.
  operator float() { return static_cast<const EKValue&>(*this).operator float(); }
  /// The string held, as the const conversion reads it.
  operator const std::string&() {
    return static_cast<const EKValue&>(*this).operator const std::string&();
  }

  /// Same kind and same content, element by element for arrays and byte by byte for blocks.
  bool operator==(const EKValue& other) const;
  /// The negation of operator==.
  bool operator!=(const EKValue& other) const { return !(*this == other); }

  /// @brief A readable text for debugging, e.g. `[640, 480, 2, "text", <binary 614400 bytes>]`.
  std::string toString() const;

 private:
  using Binary = detail::EKByteBlock;
  using Array = std::vector<EKValue>;
  std::variant<std::monostate, bool, int, float, std::string, Array, Binary> data_;
};

/// @brief Name of a type as written into method descriptions.
///
/// Codes: 1 no value ("void"), 2 "bool", 3 "int", 4 "float", 5 "std::string",
/// 6 "EKValue" (a dynamic value); any other code gives "unknown".
EKFRAMEWORK_API std::string getTypeString(int code);

}  // namespace EK

#endif  // EKVALUE_EKVALUE_H
