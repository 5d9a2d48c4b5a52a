#pragma once
// Points descriptor 2 at a file while it lives, so tests can read what went to standard error
// (and keep megabytes of test lines off the console).

#include <fcntl.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryFile>

class StdErrRedirect {
 public:
  StdErrRedirect() {
    file_.open();
    saved_ = ::dup(STDERR_FILENO);
    ::dup2(file_.handle(), STDERR_FILENO);
  }
  ~StdErrRedirect() {
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  StdErrRedirect(const StdErrRedirect&) = delete;
  StdErrRedirect& operator=(const StdErrRedirect&) = delete;

  QByteArray contents() const {
    QFile reader(file_.fileName());
    reader.open(QIODevice::ReadOnly);
    return reader.readAll();
  }

 private:
  QTemporaryFile file_;
  int saved_ = -1;
};
