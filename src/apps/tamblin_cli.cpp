// tamblin-cli: the engine of the window, driven from a terminal.
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream(stdout) << "tamblin-cli " << TAMBLIN_VERSION_TEXT << Qt::endl;
    return 0;
}
