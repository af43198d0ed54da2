#include "Background.h"
#include "SerialQueue.h"

#include <QTest>
#include <atomic>

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

    void backgroundWorkResumesOnTheMainThread() {
        const QThread* mainThread = QThread::currentThread();
        const QThread* workThread = nullptr;
        const int value = QCoro::waitFor(Dispatch::runInBackground([&] {
            workThread = QThread::currentThread();
            return 42;
        }));
        QCOMPARE(value, 42);
        QVERIFY(workThread != mainThread);
        // (An error's way back is every failing mixdown's.)
        auto resumed = [&]() -> QCoro::Task<bool> {
            co_await Dispatch::runInBackground([] { return 0; });
            co_return QThread::currentThread() == mainThread;
        };
        QVERIFY(QCoro::waitFor(resumed()));
    }
};

QTEST_GUILESS_MAIN(DispatchTest)
#include "tst_dispatch.moc"
