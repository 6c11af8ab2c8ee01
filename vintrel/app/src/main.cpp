// vintrel: learn, check and send infrared remote-control codes.
#include <QApplication>

#include "startup.h"

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    return vintrel::app::runVintrel(app);
}
