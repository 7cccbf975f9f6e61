#pragma once

#include <QString>

// Where the command-line front end writes and reads: the terminal for the program, buffers for
// the tests.
class ICliIo
{
public:
    virtual ~ICliIo() = default;
    virtual void Out(const QString& sText) = 0;
    virtual void Err(const QString& sText) = 0;
    // One line typed by the user, without its line end; empty at the end of input.
    virtual QString ReadLine() = 0;
    // True when standard output is a terminal (progress bar instead of one line per file).
    virtual bool IsTerminal() const = 0;
};

// Standard input, output and error, in the locale's character set.
class CConsoleIo final : public ICliIo
{
public:
    void Out(const QString& sText) override;
    void Err(const QString& sText) override;
    QString ReadLine() override;
    bool IsTerminal() const override;
};
