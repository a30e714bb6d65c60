#pragma once

#include <QObject>

#include "storagefixture.h"

// Base of the database tests: every case has a "type" column (0 SQLite, 1 MySQL), gets a
// fresh database before it runs and fails when the code logged a warning.
class StorageTest : public QObject
{
    Q_OBJECT
protected:
    // The "type" column with one row per dialect.
    static void dialects();
    StorageFixture f;

private slots:
    void init();
    void cleanup();
};
