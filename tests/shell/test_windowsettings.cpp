#include "core/errors.h"
#include "shell/versionnotice.h"
#include "shell/windowsettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QVariantMap>

namespace {

// Settings values in memory: a QString is a text, an int a 32-bit integer; reading the other type throws.
struct MemorySettings : SettingsValues
{
    QVariantMap values;

    bool valueExists(const QString &name) const override { return values.contains(name); }
    QString readString(const QString &name) const override
    {
        if (values.value(name).typeId() != QMetaType::QString)
            throw ZalventoError(QStringLiteral("type"));
        return values.value(name).toString();
    }
    qint32 readInteger(const QString &name) const override
    {
        if (values.value(name).typeId() != QMetaType::Int)
            throw ZalventoError(QStringLiteral("type"));
        return values.value(name).toInt();
    }
    void writeInteger(const QString &, qint32) override {}
};

} // namespace

class TestWindowSettings : public QObject
{
    Q_OBJECT

private slots:
    // What the window tests of the settings leave out: the session preparation, and the clamp below -1.
    void read_data()
    {
        QTest::addColumn<QVariantMap>("values");
        QTest::addColumn<bool>("sessionFails");
        QTest::addColumn<bool>("available");
        QTest::addColumn<bool>("prepared");
        QTest::addColumn<QString>("read"); // the optional values read: "record,transfer,source,width,height"

        const QString data = QStringLiteral("<data>");
        QTest::newRow("Datenpath without its closing separator")
            << QVariantMap{{"Datenpath", QStringLiteral("<data-no-slash>")}} << false << false << true
            << "-,-,-,-,-";
        QTest::newRow("stored source below -1 marks none")
            << QVariantMap{{"IndexQuelle", -9}} << false << false << false << "-,-,-1,-,-";
        QTest::newRow("a mistyped value ends the read; no session")
            << QVariantMap{{"Datenpath", data},
                           {"IndexEintragen", 1},
                           {"IndexKurseeintragen", QStringLiteral("x")},
                           {"IndexQuelle", 1}}
            << false << true << false << "1,-,-,-,-";
        QTest::newRow("a failing session preparation is silent")
            << QVariantMap{{"Datenpath", data}, {"Indexheight", 480}} << true << true << true
            << "-,-,-,-,480";
    }

    void read()
    {
        QFETCH(QVariantMap, values);
        QFETCH(bool, sessionFails);
        QFETCH(bool, available);
        QFETCH(bool, prepared);
        QFETCH(QString, read);

        QTemporaryDir folder;
        const QString dataFolder = folder.path() + QStringLiteral("/daten/");
        QVERIFY(QDir().mkpath(dataFolder));
        QFile(dataFolder + QStringLiteral("Intraday.db")).open(QIODevice::WriteOnly);
        MemorySettings settings;
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            QVariant value = it.value();
            if (value == QStringLiteral("<data>"))
                value = dataFolder;
            else if (value == QStringLiteral("<data-no-slash>"))
                value = dataFolder.chopped(1);
            settings.values.insert(it.key(), value);
        }
        QString preparedWith;
        const QString programFolder = folder.path() + QLatin1Char('/');
        const WindowSettings result =
            readWindowSettings(settings, programFolder, [&](const QString &folderName) {
                preparedWith = folderName;
                if (sessionFails)
                    throw ZalventoError(QStringLiteral("engine"));
            });

        QCOMPARE(result.norvataAvailable, available);
        QCOMPARE(!preparedWith.isEmpty(), prepared);
        QCOMPARE(result.dataFolder, settings.values.contains("Datenpath")
                                        ? settings.values.value("Datenpath").toString()
                                        : programFolder);
        const auto text = [](const auto &value) {
            return value ? QString::number(int(*value)) : QStringLiteral("-");
        };
        QCOMPARE(QStringList({text(result.recordIndexValue), text(result.transferWebPrices),
                              text(result.source), text(result.width), text(result.height)})
                     .join(QLatin1Char(',')),
                 read);
    }

    void serversAreReadApart()
    {
        QTemporaryDir folder;
        MemorySettings settings;
        settings.values = {{"IndexEintragen", QStringLiteral("wrong type")},
                           {"Kursserver", 8080},
                           {"Updateserver", QStringLiteral("127.0.0.1:9")}};
        const WindowSettings result = readWindowSettings(settings, folder.path() + QLatin1Char('/'), {});
        QVERIFY(result.quoteServer.isEmpty());
        QCOMPARE(result.updateServer, QStringLiteral("127.0.0.1:9"));
    }

    void versionNotice_data()
    {
        QTest::addColumn<QString>("information");
        QTest::addColumn<bool>("notice");
        QTest::newRow("this version") << "NV Zalvento V1.7\r\nText" << false;
        QTest::newRow("only line") << "NV Zalvento V1.7" << false;
        QTest::newRow("newer version") << "NV Zalvento V1.8\r\nText" << true;
        QTest::newRow("case differs") << "NV ZALVENTO V1.7\nText" << true;
        QTest::newRow("trailing blank") << "NV Zalvento V1.7 \r\n" << true;
        QTest::newRow("empty") << "" << true;
    }

    void versionNotice()
    {
        QFETCH(QString, information);
        QFETCH(bool, notice);
        QCOMPARE(VersionNotice::announcesOtherVersion(information), notice);
    }
};

QTEST_GUILESS_MAIN(TestWindowSettings)
#include "test_windowsettings.moc"
