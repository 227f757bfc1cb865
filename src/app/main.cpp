#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow w;
  w.setWindowTitle("Kestrix v00.7.1 for Delphi3");
  w.show();
  return app.exec();
}
