#include "core/gui_post.h"

#include "core/gui_handoff.h"

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
            queue_.push_back(std::move(f));
            wake = !wakePending_;
            wakePending_ = true;
        }
        // What the poster wrote, this object included when its first call
        // made it, is seen by the GUI thread's run.
        gui_handoff::posted();
        if (wake)
            QMetaObject::invokeMethod(this, "run", Qt::QueuedConnection);
    }

public slots:
    // The calls that wait as the run begins, in order. Before each, when
    // more wait, a wake is posted: a call that opens a page (a nested event
    // loop) leaves the later ones to run inside it, in the same order, and
    // calls posted during the run wait for that wake, so that the timer and
    // the touch screen are served between them however fast a worker posts
    // (a PC storing a change ten times a second, each stored in 100 ms).
    void run()
    {
        size_t due;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            wakePending_ = false;
            due = queue_.size();
        }
        for (; due > 0; --due) {
            std::function<void()> f;
            bool wake = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (queue_.empty())
                    return;
                f = std::move(queue_.front());
                queue_.pop_front();
                if (!queue_.empty() && !wakePending_) {
                    wakePending_ = true;
                    wake = true;
                }
            }
            if (wake)
                QMetaObject::invokeMethod(this, "run", Qt::QueuedConnection);
            f();
        }
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
    bool wakePending_ = false;
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
