#include "ui/tableloader.h"

TableLoader::TableLoader(QObject* parent)
    : QObject(parent)
    , reader(this)
{
    qRegisterMetaType<TableRows>("TableRows");
}

TableLoader::~TableLoader() = default;

void TableLoader::load(int table, quint64 serial, TableRequest request)
{
    emit loaded(table, serial, reader.read(request));
}

void TableLoader::stop()
{
    reader.stop();
}

void TableLoader::close()
{
    reader.close();
}
