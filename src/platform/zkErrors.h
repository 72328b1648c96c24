#pragma once

#include <QString>
#include <exception>

// The program's error hierarchy. Errors are raised, not returned; the application's
// general error report (TZkApplication::notify) shows any that reach the event loop.
class EZkError : public std::exception {
public:
    explicit EZkError(QString message) : Message(std::move(message)), Utf8(Message.toUtf8()) {}
    const char* what() const noexcept override { return Utf8.constData(); }
    const QString& message() const noexcept { return Message; }
    // The kind's name as the user sees it in "Unexpected Error" lines.
    virtual QString className() const { return QStringLiteral("EZkError"); }

private:
    QString Message;
    QByteArray Utf8;
};

#define ZK_DECLARE_ERROR(Name, Base)                                                               \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
        QString className() const override { return QStringLiteral(#Name); }                       \
    };

// A hosted component reported a failure (its message is the error's text).
ZK_DECLARE_ERROR(EComponentError, EZkError)
// Stored or typed text did not convert to the number that was asked for.
ZK_DECLARE_ERROR(EConvertError, EZkError)
// A settings file could not be written.
ZK_DECLARE_ERROR(EIniFileError, EZkError)
// A file operation other than a settings write failed.
ZK_DECLARE_ERROR(EInOutError, EZkError)
// The per-user store could not carry out an operation.
ZK_DECLARE_ERROR(EStoreError, EZkError)
// An argument was outside what the operation accepts.
ZK_DECLARE_ERROR(EArgumentError, EZkError)
