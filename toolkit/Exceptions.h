// Exception hierarchy of the toolkit. Everything the program raises for bad
// input derives from Exception; the application's default handler shows
// its Message in a message box. EAbort is the silent one: nobody shows it.
#pragma once

#include <stdexcept>
#include <string>

namespace tk {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Silent abort ("Aborted"): used to unwind without any message.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Aborted") {}
};

class EConvertError : public Exception {
  using Exception::Exception;
};
class EStreamError : public Exception {
  using Exception::Exception;
};
class EFCreateError : public EStreamError {
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
  using EStreamError::EStreamError;
};
class EInvalidGraphic : public Exception {
  using Exception::Exception;
};
class EOutOfResources : public Exception {
  using Exception::Exception;
};
class EIniFileException : public Exception {
  using Exception::Exception;
};

[[noreturn]] void Abort();

// printf-style formatting for messages; %s arguments are 8-bit strings.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The toolkit's fixed message texts (Shift-JIS in the built program).
std::string FileCreateErrorText(const std::string& path);  // "ファイル %s を作成できません"
std::string FileOpenErrorText(const std::string& path);  // "ファイル %s を開けません"
std::string NotIntegerText(const std::string& text);     // "'%s' は整数ではありません"
std::string CannotWriteText(const std::string& path);    // "%s に書き込めません"

}  // namespace tk
