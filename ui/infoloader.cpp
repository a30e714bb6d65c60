#include "ui/infoloader.h"

InfoLoader::InfoLoader(QObject* parent)
    : QObject(parent)
    , info(this)
{
}

void InfoLoader::stop()
{
    info.stop();
}

void InfoLoader::count()
{
    emit counted(info.measureCount());
}

void InfoLoader::close()
{
    info.close();
}
