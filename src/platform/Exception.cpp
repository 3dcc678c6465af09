#include "platform/Exception.h"

namespace kavelo {

Exception::Exception(QString message)
    : message_(std::move(message)), utf8_(message_.toUtf8()) {}

} // namespace kavelo
