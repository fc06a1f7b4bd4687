#include <ekvalue/ekvalue.h>

#include <cstring>
#include <sstream>
#include <utility>

#include <ekerror/ekerror.h>

namespace EK {
namespace {

[[noreturn]] void throwWrongKind(const char* method, EKValue::Type held, const char* wanted) {
  throw EKError(
      "EKValue", method,
      std::string("cannot read a value of kind ") + EKValue::TypeToString(held) + " as " + wanted);
}

// A byte block needs a size of at least 0, and bytes when it has any.
void checkBlock(const void* data, int size) {
  if (size < 0) {
    throw EKError("EKValue", "SetBinary", "negative byte count " + std::to_string(size));
  }
  if (data == nullptr && size > 0) {
    throw EKError("EKValue", "SetBinary", "null data for a non-empty byte block");
  }
}

}  // namespace

EKValue::EKValue() = default;
EKValue::EKValue(const EKValue& other) = default;
EKValue::EKValue(EKValue&& other) noexcept = default;
EKValue& EKValue::operator=(const EKValue& other) = default;
EKValue& EKValue::operator=(EKValue&& other) noexcept = default;
EKValue::~EKValue() = default;

EKValue::EKValue(const bool& value) : data_(value) {}
EKValue::EKValue(const int& value) : data_(value) {}
EKValue::EKValue(const float& value) : data_(value) {}
EKValue::EKValue(const std::string& value) : data_(value) {}
EKValue::EKValue(const char* value) : data_(std::string(value != nullptr ? value : "")) {}
EKValue::EKValue(const void* data, int size) {
  SetBinary(data, size);
}

EKValue& EKValue::operator=(const bool& value) {
  data_ = value;
  return *this;
}

EKValue& EKValue::operator=(const int& value) {
  data_ = value;
  return *this;
}

EKValue& EKValue::operator=(const float& value) {
  data_ = value;
  return *this;
}

EKValue& EKValue::operator=(const std::string& value) {
  data_ = value;
  return *this;
}

EKValue& EKValue::operator=(const char* value) {
  data_ = std::string(value != nullptr ? value : "");
  return *this;
}

EKValue::Type EKValue::getType() const noexcept {
  switch (data_.index()) {
    case 1:
      return TypeBool;
    case 2:
      return TypeInt;
    case 3:
      return TypeFloat;
    case 4:
      return TypeString;
    case 5:
      return TypeArray;
    case 6:
      return TypeBinary;
    default:
      return TypeInvalid;
  }
}

std::string EKValue::TypeToString(Type type) {
  switch (type) {
    case TypeInvalid:
      return "invalid";
    case TypeBool:
      return "bool";
    case TypeInt:
      return "int";
    case TypeFloat:
      return "float";
    case TypeString:
      return "string";
    case TypeArray:
      return "array";
    case TypeBinary:
      return "binary";
  }
  return "unknown";
}

void EKValue::arraySetSize(int size) {
  if (size < 0) {
    throw EKError("EKValue", "arraySetSize", "negative array size " + std::to_string(size));
  }
  if (Array* array = std::get_if<Array>(&data_)) {
    array->resize(static_cast<std::size_t>(size));
  } else {
    data_ = Array(static_cast<std::size_t>(size));
  }
}

unsigned int EKValue::getSize() const noexcept {
  if (const Array* array = std::get_if<Array>(&data_)) {
    return static_cast<unsigned int>(array->size());
  }
  if (const Binary* binary = std::get_if<Binary>(&data_)) {
    return static_cast<unsigned int>(binary->size());
  }
  if (const std::string* text = std::get_if<std::string>(&data_)) {
    return static_cast<unsigned int>(text->size());
  }
  return 0;
}

EKValue& EKValue::operator[](int index) {
  return const_cast<EKValue&>(static_cast<const EKValue&>(*this)[index]);
}

const EKValue& EKValue::operator[](int index) const {
  const Array* array = std::get_if<Array>(&data_);
  if (array == nullptr) {
    throwWrongKind("operator[]", getType(), "array");
  }
  if (index < 0 || static_cast<std::size_t>(index) >= array->size()) {
    throw EKError("EKValue", "operator[]",
                  "index " + std::to_string(index) + " out of range for an array of " +
                      std::to_string(array->size()) + " elements");
  }
  return (*array)[static_cast<std::size_t>(index)];
}

void EKValue::arrayPush(const EKValue& element) {
  if (!isValid()) {
    data_ = Array();
  }
  Array* array = std::get_if<Array>(&data_);
  if (array == nullptr) {
    throwWrongKind("arrayPush", getType(), "array");
  }
  array->push_back(element);
}

void EKValue::SetBinary(const void* data, int size) {
  checkBlock(data, size);
  const auto* bytes = static_cast<const unsigned char*>(data);
  data_ = Binary(std::vector<unsigned char>(bytes, bytes + size));
}

void EKValue::SetBinary(std::vector<unsigned char>&& bytes) {
  data_ = Binary(std::move(bytes));
}

void EKValue::SetBinary(std::shared_ptr<unsigned char> bytes, int size) {
  checkBlock(bytes.get(), size);
  data_ = Binary(std::move(bytes), static_cast<std::size_t>(size));
}

const void* EKValue::GetBinary() const {
  const Binary* binary = std::get_if<Binary>(&data_);
  if (binary == nullptr) {
    throwWrongKind("GetBinary", getType(), "binary");
  }
  return binary->empty() ? nullptr : binary->data();
}

int EKValue::getBinarySize() const {
  const Binary* binary = std::get_if<Binary>(&data_);
  if (binary == nullptr) {
    throwWrongKind("getBinarySize", getType(), "binary");
  }
  return static_cast<int>(binary->size());
}

EKValue::operator bool() const {
  const bool* value = std::get_if<bool>(&data_);
  if (value == nullptr) {
    throwWrongKind("operator bool", getType(), "bool");
  }
  return *value;
}

EKValue::operator int() const {
  const int* value = std::get_if<int>(&data_);
  if (value == nullptr) {
    throwWrongKind("operator int", getType(), "int");
  }
  return *value;
}

EKValue::operator int&() {
  int* value = std::get_if<int>(&data_);
  if (value == nullptr) {
    throwWrongKind("operator int&", getType(), "int");
  }
  return *value;
}

EKValue::operator float() const {
  if (const float* value = std::get_if<float>(&data_)) {
    return *value;
  }
  if (const int* value = std::get_if<int>(&data_)) {
    return static_cast<float>(*value);
  }
  throwWrongKind("operator float", getType(), "float");
}

EKValue::operator const std::string&() const {
  const std::string* value = std::get_if<std::string>(&data_);
  if (value == nullptr) {
    throwWrongKind("operator std::string", getType(), "string");
  }
  return *value;
}

bool EKValue::operator==(const EKValue& other) const {
  return data_ == other.data_;
}

std::string EKValue::toString() const {
  std::ostringstream out;
  switch (getType()) {
    case TypeInvalid:
      out << "<invalid>";
      break;
    case TypeBool:
      out << (std::get<bool>(data_) ? "true" : "false");
      break;
    case TypeInt:
      out << std::get<int>(data_);
      break;
    case TypeFloat:
      out << std::get<float>(data_) << 'f';
      break;
    case TypeString:
      out << '"' << std::get<std::string>(data_) << '"';
      break;
    case TypeBinary:
      out << "<binary " << std::get<Binary>(data_).size() << " bytes>";
      break;
    case TypeArray: {
      out << '[';
      const Array& array = std::get<Array>(data_);
      for (std::size_t i = 0; i < array.size(); ++i) {
        out << (i == 0 ? "" : ", ") << array[i].toString();
      }
      out << ']';
      break;
    }
  }
  return out.str();
}

std::string getTypeString(int code) {
  switch (code) {
    case 1:
      return "void";
    case 2:
      return "bool";
    case 3:
      return "int";
    case 4:
      return "float";
    case 5:
      return "std::string";
    case 6:
      return "EKValue";
    default:
      return "unknown";
  }
}

}  // namespace EK
