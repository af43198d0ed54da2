#include "Background.h"
#include "SerialQueue.h"

#include <QCoreApplication>
#include <QTest>
#include <atomic>
#include <stdexcept>

class DispatchTest : public QObject {
    Q_OBJECT

private slots:
    void asyncRunsInOrderOffTheCallersThreadAndTheEndDrainsIt() {
        QList<int> order;
        std::atomic<bool> ranOnCaller = false;
        const QThread* caller = QThread::currentThread();
        {
            Dispatch::SerialQueue queue(QStringLiteral("test.queue"));
            for (int i = 0; i < 200; ++i) {
                queue.async([&, i] {
                    QThread::usleep(200);
                    order.append(i);
                    ranOnCaller = ranOnCaller || QThread::currentThread() == caller;
                });
            }
        }
        QCOMPARE(order.size(), 200);
        for (int i = 0; i < 200; ++i) {
            QCOMPARE(order[i], i);
        }
        QVERIFY(!ranOnCaller);
    }

    void syncFromTheQueueItselfRunsInPlace() {
        Dispatch::SerialQueue queue(QStringLiteral("test.queue"));
        bool inner = false;
        queue.sync([&] {
            QVERIFY(queue.isCurrent());
            queue.sync([&] { inner = true; });
        });
        QVERIFY(inner);
    }

    void backgroundWorkResumesOnTheMainThreadAndRethrows() {
        const QThread* mainThread = QThread::currentThread();
        const QThread* workThread = nullptr;
        const int value = QCoro::waitFor(Dispatch::runInBackground([&] {
            workThread = QThread::currentThread();
            return 42;
        }));
        QCOMPARE(value, 42);
        QVERIFY(workThread != mainThread);

        // QCoro's waitFor never returns when the awaited task throws, so the catch is inside.
        auto failing = [&]() -> QCoro::Task<QString> {
            try {
                co_await Dispatch::runInBackground([] { throw std::invalid_argument("broken"); });
            } catch (const std::invalid_argument& error) {
                co_return QString::fromUtf8(error.what()) +
                    (QThread::currentThread() == mainThread ? "@main" : "@pool");
            }
            co_return QStringLiteral("not thrown");
        };
        QCOMPARE(QCoro::waitFor(failing()), QStringLiteral("broken@main"));
    }
};

QTEST_GUILESS_MAIN(DispatchTest)
#include "tst_dispatch.moc"
