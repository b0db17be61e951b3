// Imports a 10,000-row catalogue and answers every tree query (one per node plus the top level),
// timed against mdb-export of the same table in the same run.
//   bench_catalogue_import [ROWS]
#include "CatalogueImport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace vireo;

namespace {
constexpr int kRounds = 5;

bool run(const QString &program, const QStringList &args, QByteArray *out = nullptr)
{
    QProcess p;
    p.setProgram(program);
    p.setArguments(args);
    if (!out)
        p.setStandardOutputFile(QProcess::nullDevice());
    p.start();
    if (!p.waitForStarted(30000) || !p.waitForFinished(600000))
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
        return false;
    }
    return true;
}

int loadTree(db::Connection &conn, const QString &parentId)
{
    const QString sql = parentId.isEmpty()
                            ? QStringLiteral("select * from Tools where cParentID is null order by cID")
                            : QStringLiteral("select * from Tools where cParentID='") + parentId + QStringLiteral("' order by cID");
    const db::Recordset rs = conn.query(sql);
    const int id = rs.columnIndex(QStringLiteral("cID"));
    int nodes = int(rs.rowCount());
    for (qint64 r = 0; r < rs.rowCount(); ++r)
        nodes += loadTree(conn, rs.value(r, id).toString());
    return nodes;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString rows = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("10000");
    const QString mkmdb = QStringLiteral(VIREO_MKMDB);
    if (!QFileInfo::exists(mkmdb)) {
        std::printf("bench_catalogue_import: skipped, mkmdb not found at %s\n", qPrintable(mkmdb));
        return 0;
    }
    const QString mdbExport = QStandardPaths::findExecutable(QStringLiteral("mdb-export"));
    if (mdbExport.isEmpty()) {
        std::printf("bench_catalogue_import: skipped, mdb-export not installed\n");
        return 0;
    }
    QTemporaryDir dir;
    const QString json = dir.filePath(QStringLiteral("catalogue.json")), mdb = dir.filePath(QStringLiteral("VUZ.mdb"));
    if (!run(QStringLiteral(VIREO_PYTHON), {QStringLiteral(VIREO_BENCH_DIR "/make_catalogue.py"), json, rows})
        || !run(QStringLiteral(VIREO_PYTHON), {mkmdb, json, mdb}))
        return 1;

    QByteArray csv;
    if (!run(mdbExport, {mdb, QStringLiteral("Tools")}, &csv))
        return 1;
    const qint64 exported = csv.count('\n') - 1;

    qint64 bestExport = -1, bestOurs = -1, bestImport = -1;
    int nodes = 0;
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer t;
        t.start();
        if (!run(mdbExport, {mdb, QStringLiteral("Tools")}))
            return 1;
        const qint64 e = t.nsecsElapsed();
        bestExport = bestExport < 0 ? e : std::min(bestExport, e);

        t.restart();
        try {
            auto conn = openCatalogue(mdb);
            const qint64 i = t.nsecsElapsed();
            bestImport = bestImport < 0 ? i : std::min(bestImport, i);
            nodes = loadTree(*conn, {});
        } catch (const db::DbError &err) {
            std::fprintf(stderr, "%s\n", qPrintable(err.message()));
            return 1;
        }
        const qint64 o = t.nsecsElapsed();
        bestOurs = bestOurs < 0 ? o : std::min(bestOurs, o);
    }
    std::printf("catalogue rows: %lld (mdb-export) / %d reachable nodes, %d tree queries\n",
                static_cast<long long>(exported), nodes, nodes + 1);
    std::printf("mdb-export Tools:            %8.1f ms (best of %d)\n", bestExport / 1e6, kRounds);
    std::printf("openCatalogue + tree queries: %8.1f ms (best of %d; openCatalogue alone %.1f ms)\n", bestOurs / 1e6,
                kRounds, bestImport / 1e6);
    std::printf("ratio: %.2f (target <= 2)\n", double(bestOurs) / double(bestExport));
    return nodes == exported ? 0 : 1;
}
