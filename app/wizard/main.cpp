// paperwright-wizard [FILE.pdf]: the desktop converter.
#include <QApplication>
#include <QCommandLineParser>

#include "app/wizard/pwMain.h"
#include "platform/kxMemoryManager.h"

int main(int argc, char** argv) {
  pw::TkxMemoryManager::KeepFreedMemory();
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Paperwright");
  QApplication::setApplicationName("paperwright-wizard");
  QApplication::setDesktopFileName("paperwright-wizard");

  QCommandLineParser parser;
  parser.setApplicationDescription("Converts a PDF file into an editable RTF document.");
  parser.addHelpOption();
  parser.addPositionalArgument("FILE.pdf", "The PDF file to convert (optional).");
  parser.process(app);

  pw::TfmMain window;
  window.show();
  if (!parser.positionalArguments().isEmpty()) window.PickPdf(parser.positionalArguments().first());
  return app.exec();
}
