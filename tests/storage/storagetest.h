#pragma once

#include <QObject>
#include <QStringList>

#include "storagefixture.h"

// Base of the database tests: every case has a "type" column (0 SQLite, 1 MySQL), gets a
// fresh database before it runs and fails when the code logged a warning.
class StorageTest : public QObject
{
    Q_OBJECT
protected:
    // The "type" column with one row per dialect.
    static void dialects();
    // The "type" column with the one dialect a case is about.
    static void only(int type);
    // Sensors named 'a', 'b', ... in location 0, one per EUI64.
    void addSensors(const QStringList& euis);
    StorageFixture f;

private slots:
    void init();
    void cleanup();
};
