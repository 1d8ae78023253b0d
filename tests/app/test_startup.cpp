#include "programfolder.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void firstStartWithoutAnything()
    {
        ProgramFolder folder;
        MainWindow form(folder.options());
        QCOMPARE(form.programDirectory(), folder.path(QString()));
        QCOMPARE(form.componentCountEdit->text(), QStringLiteral("30"));
        QCOMPARE(form.indexTable.rows(), 30);
        QCOMPARE(form.indexTable.columns(), 7);
        QCOMPARE(form.windowTitle(), QStringLiteral("DAX"));
        QCOMPARE(folder.messages,
                 QStringList({"Fehler - in Kurs oder Wichtung",
                              "Datei " + folder.path("Info.txt") + " kann nicht geöffnet werden."}));
        QCOMPARE(form.dataFolder(), form.programDirectory());
        QVERIFY(!form.norvataAvailable);
        QCOMPARE(form.sourceIndex(), 1);
        QVERIFY(!form.sourceGroup->isEnabled());
        QVERIFY(!form.norvataMenu->isEnabled());
        QCOMPARE(form.size(), QSize(700, 701));
        QCOMPARE(form.gridView->columnWidth(0), 157);
        QCOMPARE(form.gridView->columnWidth(1), 65);
        QCOMPARE(form.indexTable.cell(4, 0), QStringLiteral("Wichtung in %"));
    }

    void loadsCalculatesAndShowsInformation()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        MainWindow form(folder.options());
        QCOMPARE(folder.messages, QStringList());
        QCOMPARE(form.componentCountEdit->text(), QStringLiteral("2"));
        QCOMPARE(form.valueLabel->text(),
                 QLocale::system().decimalPoint() == QLatin1String(",") ? "10422,22" : "10422.22");
        QVERIFY(form.informationText->toPlainText().startsWith("NV Zalvento V1.7\nText"));
        QCOMPARE(form.makerSiteNote->text(),
                 QStringLiteral("aktuellen Versionen und weitere Programme z.B. Norvata"));
        QCOMPARE(form.makerSiteNote->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    }

    void definitionFileFoundInAnyCase()
    {
        ProgramFolder folder;
        folder.writeDefinition(QStringLiteral("dax.txt"));
        folder.write(QStringLiteral("info.txt"), "NV Zalvento V1.7\r\n");
        MainWindow form(folder.options());
        QCOMPARE(folder.messages, QStringList());
        QCOMPARE(form.indexTable.rows(), 3);
    }

    void versionNoticeStaysOnceShown()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo("NV Zalvento V1.8");
        MainWindow form(folder.options());
        QCOMPARE(form.makerSiteNote->text(), QStringLiteral("Einen neue Programmversion ist verfügbar!!"));
        QCOMPARE(form.makerSiteNote->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        folder.writeInfo();
        form.indexChoice->setEditText(QStringLiteral("MDax"));
        QCOMPARE(form.makerSiteNote->text(), QStringLiteral("Einen neue Programmversion ist verfügbar!!"));
        QCOMPARE(form.makerSiteNote->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    }

    void settingsApplied_data()
    {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<bool>("norvata");
        QTest::addColumn<int>("source");
        QTest::addColumn<bool>("indexRecord");
        QTest::addColumn<bool>("webRecords");
        QTest::addColumn<QSize>("size");
        const QString datenpath = "DATENPATH";
        QTest::newRow("all values") << QStringList{datenpath,
                                                   "\"IndexEintragen\"=dword:00000001",
                                                   "\"IndexKurseeintragen\"=dword:00000007",
                                                   "\"IndexQuelle\"=dword:00000000",
                                                   "\"Indexwidth\"=dword:00000320",
                                                   "\"Indexheight\"=dword:00000258"}
                                    << true << 0 << true << true << QSize(800, 600);
        QTest::newRow("source 5 is Internet") << QStringList{datenpath, "\"IndexQuelle\"=dword:00000005"}
                                              << true << 1 << false << false << QSize(700, 701);
        QTest::newRow("source -1 marks none") << QStringList{datenpath, "\"IndexQuelle\"=dword:ffffffff"}
                                              << true << -1 << false << false << QSize(700, 701);
        QTest::newRow("wrong type ends the block")
            << QStringList{datenpath, "\"IndexEintragen\"=dword:00000001", "\"IndexKurseeintragen\"=\"1\"",
                           "\"IndexQuelle\"=dword:00000001", "\"Indexwidth\"=dword:00000320"}
            << true << 0 << true << false << QSize(700, 701);
        QTest::newRow("no Datenpath") << QStringList{"\"IndexQuelle\"=dword:00000000"} << false << 1 << false
                                      << false << QSize(700, 701);
        QTest::newRow("Datenpath without its slash")
            << QStringList{"DATENPATH-NO-SLASH"} << false << 1 << false << false << QSize(700, 701);
    }

    void settingsApplied()
    {
        QFETCH(QStringList, values);
        QFETCH(bool, norvata);
        QFETCH(int, source);
        QFETCH(bool, indexRecord);
        QFETCH(bool, webRecords);
        QFETCH(QSize, size);
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        for (QString &value : values) {
            if (value == QLatin1String("DATENPATH"))
                value = folder.norvataSettingsLine();
            else if (value == QLatin1String("DATENPATH-NO-SLASH"))
                value = folder.norvataSettingsLine().replace("daten/", "daten");
        }
        folder.writeSettings(values);
        MainWindow form(folder.options());
        QCOMPARE(form.norvataAvailable, norvata);
        QCOMPARE(form.norvataMenu->isEnabled(), norvata);
        QCOMPARE(form.sourceGroup->isEnabled(), norvata);
        QCOMPARE(form.sourceIndex(), source);
        QCOMPARE(form.recordIndexValueAction->isChecked(), indexRecord);
        QCOMPARE(form.transferWebPricesAction->isChecked(), webRecords);
        QCOMPARE(form.size(), size);
    }

    void sourceChoiceReturnsAfterAnIndexChange()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        folder.writeSettings({folder.norvataSettingsLine(), "\"IndexQuelle\"=dword:00000000"});
        MainWindow form(folder.options());
        form.setSourceIndex(1);
        form.indexChoice->setEditText(QStringLiteral("MDax"));
        QCOMPARE(form.sourceIndex(), 0);
    }

    void sourceChoiceStaysDisabled()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        MainWindow form(folder.options());
        QVERIFY(!form.sourceGroup->isEnabled());
        folder.writeSettings({folder.norvataSettingsLine()});
        form.indexChoice->setEditText(QStringLiteral("MDax"));
        QVERIFY(form.norvataAvailable);
        QVERIFY(form.norvataMenu->isEnabled());
        QVERIFY(!form.sourceGroup->isEnabled());
    }

    void automaticSwitch_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("on");
        QTest::newRow("/A") << QStringList{"/A"} << true;
        QTest::newRow("/A and more") << QStringList{"/A", "x"} << true;
        QTest::newRow("/a") << QStringList{"/a"} << false;
        QTest::newRow("second") << QStringList{"x", "/A"} << false;
        QTest::newRow("none") << QStringList{} << false;
    }

    void automaticSwitch()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, on);
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        MainWindow form(folder.options(arguments));
        QCOMPARE(form.automaticMode(), on);
        QCOMPARE(form.automaticTimer->isActive(), on);
    }

    void badDefinitionEndsTheSequence()
    {
        ProgramFolder folder;
        folder.write(QStringLiteral("Dax.txt"), "neun\r\n0\r\n");
        folder.writeInfo("NV Zalvento V1.8");
        folder.writeSettings({folder.norvataSettingsLine()});
        MainWindow form(folder.options({"/A"}));
        QCOMPARE(folder.messages, QStringList{"'neun' ist kein gültiger Gleitkommawert."});
        QCOMPARE(form.windowTitle(), MainWindow::versionTitle);
        QVERIFY(!form.norvataAvailable);
        QVERIFY(form.norvataMenu->isEnabled());
        QCOMPARE(form.sourceIndex(), 0);
        QVERIFY(!form.automaticMode());
        QVERIFY(form.informationText->toPlainText().isEmpty());
        QVERIFY(form.valueLabel->text().isEmpty());
    }

    void typingANewIndexName()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        MainWindow form(folder.options());
        form.indexChoice->lineEdit()->selectAll();
        QTest::keyClicks(form.indexChoice->lineEdit(), QStringLiteral("Foo"));
        QCOMPARE(form.windowTitle(), QStringLiteral("FOO"));
        QCOMPARE(form.indexTable.rows(), 3);
        const QByteArray dax = folder.read(QStringLiteral("Dax.txt"));
        form.close();
        QVERIFY(folder.read(QStringLiteral("Foo.txt")).startsWith("9\r\n0\r\nA\r\n111\r\n"));
        QCOMPARE(folder.read(QStringLiteral("Dax.txt")), dax);
    }

    void shutdownWritesFileThenSettings()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        folder.writeSettings({folder.norvataSettingsLine(), "\"Fremd\"=\"bleibt\""});
        {
            MainWindow form(folder.options());
            form.indexTable.setCell(IndexTable::Name, 1, QStringLiteral("Geändert"));
            form.recordIndexValueAction->setChecked(true);
            form.resize(640, 480);
            form.close();
        }
        QVERIFY(folder.read(QStringLiteral("Dax.txt")).contains("Ge\xe4ndert\r\n"));
        const QByteArray settings = folder.read(QStringLiteral("Norvata.reg"));
        QVERIFY(settings.contains("\"Fremd\"=\"bleibt\""));
        QVERIFY(settings.contains(
            "\"IndexEintragen\"=dword:00000001\r\n\"IndexKurseeintragen\"=dword:00000000\r\n"
            "\"IndexQuelle\"=dword:00000000\r\n\"Indexwidth\"=dword:00000280\r\n"
            "\"Indexheight\"=dword:000001e0"));
    }

    void shutdownThatCannotWriteTheFile()
    {
        ProgramFolder folder;
        folder.writeInfo();
        QDir(folder.path(QString())).mkdir(QStringLiteral("Dax.txt")); // a folder where the file should go
        {
            MainWindow form(folder.options());
            folder.messages.clear();
            form.close();
        }
        QCOMPARE(folder.messages, QStringList{"Konnte Datei nicht schreiben"});
        QVERIFY(!QFile::exists(folder.path(QStringLiteral("Norvata.reg"))));
    }

    void terminationSignalClosesTheWindowNormally()
    {
        ProgramFolder folder;
        folder.writeDefinition();
        folder.writeInfo();
        QFile::copy(QStringLiteral(ZALVENTO_BINARY_DIR "/bin/zalvento"),
                    folder.path(QStringLiteral("bin/zalvento")));
        QFile::setPermissions(folder.path(QStringLiteral("bin/zalvento")),
                              QFile::ReadOwner | QFile::ExeOwner);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.path(QStringLiteral("config")));
        program.setProcessEnvironment(environment);
        program.start(folder.path(QStringLiteral("bin/zalvento")), {});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.path(QStringLiteral("config/Quenkel"))), 10000);
        QTest::qWait(300);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY(QFile::exists(folder.path(QStringLiteral("config/Quenkel/Norvata.reg"))));
        QVERIFY(folder.read(QStringLiteral("Dax.txt")).startsWith("9\r\n0\r\nA\r\n"));
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
