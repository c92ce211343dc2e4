#include "core/gui_post.h"

#include <QCoreApplication>
#include <QObject>
#include <deque>
#include <mutex>

namespace {

class GuiPoster : public QObject {
    Q_OBJECT
public:
    void add(std::function<void()> f)
    {
        bool wake;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            wake = queue_.empty();
            queue_.push_back(std::move(f));
        }
        if (wake)
            QMetaObject::invokeMethod(this, "run", Qt::QueuedConnection);
    }

public slots:
    void run()
    {
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            calls.swap(queue_);
        }
        for (auto& f : calls)
            f();
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
};

GuiPoster* poster()
{
    // Made by the first caller, whatever its thread, and handed to the GUI
    // thread.
    static GuiPoster* p = [] {
        GuiPoster* g = new GuiPoster();
        g->moveToThread(QCoreApplication::instance()->thread());
        return g;
    }();
    return p;
}

} // namespace

void gui_post(std::function<void()> f)
{
    if (!QCoreApplication::instance())
        return;
    poster()->add(std::move(f));
}

#include "gui_post.moc"
