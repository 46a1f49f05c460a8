// tamblin: the desktop window.
#include <QApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTextStream(stdout) << "Tamblin " << TAMBLIN_VERSION_TEXT << Qt::endl;
    return 0;
}
