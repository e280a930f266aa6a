// A window test run with a home, settings folder and runtime folder of its
// own, set before Qt reads any of them.
#pragma once

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Runs the test class TTest, made with the path of that folder.
template <class TTest>
int RunInOwnHome(int argc, char** argv) {
  QTemporaryDir root;
  if (!root.isValid()) return 1;
  qputenv("HOME", QFile::encodeName(root.path()));
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.path() + QStringLiteral("/config")));
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.path()));
  QApplication application(argc, argv);
  TTest test(root.path());
  return QTest::qExec(&test, argc, argv);
}
