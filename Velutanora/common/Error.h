#pragma once

#include <QString>

#include <exception>
#include <string>

namespace vel {

// Base of the program's thrown errors: each carries the user-facing (Japanese) description
// that status lines show after "⚠️ 失敗: " or "⚠️ ".
class Error : public std::exception {
public:
    explicit Error(QString description) : m_description(std::move(description)), m_utf8(m_description.toStdString()) {}
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_description;
    std::string m_utf8;
};

// The description of whatever was thrown, for status and log lines.
QString describeError(std::exception_ptr error);

} // namespace vel
