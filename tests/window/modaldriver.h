#pragma once

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Drives a modal dialog from inside its own event loop: polls for the first visible modal
// widget of type T (other than `except`) and hands it to the action once. The action must
// close the dialog. Destroying the driver stops the polling, so no stale driver reaches a
// later dialog.
template <class T>
class NextModal {
public:
    explicit NextModal(std::function<void(T*)> action, QWidget* except = nullptr)
        : state_(std::make_shared<State>()) {
        state_->action = std::move(action);
        state_->except = except;
        poll(state_);
    }
    ~NextModal() { state_->cancelled = true; }
    NextModal(const NextModal&) = delete;
    NextModal& operator=(const NextModal&) = delete;

    bool Fired() const { return state_->fired; }

private:
    struct State {
        std::function<void(T*)> action;
        QPointer<QWidget> except;
        bool fired = false;
        bool cancelled = false;
    };

    static void poll(const std::shared_ptr<State>& state) {
        QTimer::singleShot(5, qApp, [state] {
            if (state->cancelled || state->fired) {
                return;
            }
            QWidget* modal = QApplication::activeModalWidget();
            T* target = qobject_cast<T*>(modal);
            if (target != nullptr && modal != state->except && modal->isVisible()) {
                state->fired = true;
                state->action(target);
                return;
            }
            poll(state);
        });
    }

    std::shared_ptr<State> state_;
};
