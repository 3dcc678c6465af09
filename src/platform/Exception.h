#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

namespace kavelo {

// Base of every error the components raise: it carries the text shown to the user.
class Exception : public std::exception {
public:
    explicit Exception(QString message);

    const QString& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};

} // namespace kavelo
