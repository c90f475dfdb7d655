// Display objects: reference counting across event delivery, default
// handling of expose and resize, destruction by type, frames.
#include <gtest/gtest.h>

#include "core/dide.h"
#include "fakes/chan_fakes.h"
#include "ui/diui.h"

#include <stdlib.h>
#include <vector>

namespace {

struct DiUI : ::testing::Test {
    void SetUp() override { fakesReset(); }
};

DiObject* newObject(uint32_t type) {
    DiObject* o = static_cast<DiObject*>(calloc(1, sizeof(DiObject)));
    diUIObjectInit(o, type, 100, 50);
    return o;
}

TEST_F(DiUI, InitSetsTheDocumentedDefaults) {
    DiObject o;
    memset(&o, 0x5A, sizeof o);
    diUIObjectInit(&o, DI_OBJ_FRAME, 320, 200);
    EXPECT_EQ(o.type, DI_OBJ_FRAME);
    EXPECT_EQ(o.vwidth, 320);
    EXPECT_EQ(o.vheight, 200);
    EXPECT_EQ(o.background, 0xFFFFFFu);
    EXPECT_EQ(o.gc, nullptr);
    EXPECT_EQ(o.scrollX, 0);
    EXPECT_EQ(o.refCount, 1);
    EXPECT_EQ(o.scrollStepX, 4);
    EXPECT_EQ(o.title, nullptr);
}

TEST_F(DiUI, UnhandledExposeClearsExactlyItsRectangle) {
    DiObject o;
    diUIObjectInit(&o, DI_OBJ_FRAME, 100, 100);
    DdGC gc;
    o.gc = &gc;
    o.background = 0x123456;
    DiEvent ev{};
    ev.w[0] = DI_EV_EXPOSE;
    ev.w[1] = 0;
    ev.w[2] = 10, ev.w[3] = 20, ev.w[4] = 30, ev.w[5] = 40;
    diUIDeliverEvent(&o, &ev);
    ASSERT_EQ(gc.fills.size(), 1u);
    EXPECT_EQ(gc.fills[0], (std::vector<int32_t>{10, 20, 30, 40, 0x123456, 3}));
    EXPECT_EQ(o.refCount, 1);
}

TEST_F(DiUI, UnhandledResizeStoresWordsFourAndFive) {
    DiObject o;
    diUIObjectInit(&o, DI_OBJ_FRAME, 100, 100);
    DiEvent ev{};
    ev.w[0] = DI_EV_GEOMETRY;
    ev.w[1] = 1, ev.w[2] = 7, ev.w[3] = 8, ev.w[4] = 640, ev.w[5] = 480;
    diUIDeliverEvent(&o, &ev);
    EXPECT_EQ(o.width, 640);
    EXPECT_EQ(o.height, 480);
}

TEST_F(DiUI, HandledEventsGetNoDefaultHandling) {
    DiObject o;
    diUIObjectInit(&o, DI_OBJ_FRAME, 100, 100);
    o.handler = [](DiObject*, DiEvent*) { return 1; };
    DdGC gc;
    o.gc = &gc;
    DiEvent ev{};
    ev.w[0] = DI_EV_EXPOSE;
    diUIDeliverEvent(&o, &ev);
    ev.w[0] = DI_EV_GEOMETRY;
    ev.w[4] = 5;
    diUIDeliverEvent(&o, &ev);
    EXPECT_TRUE(gc.fills.empty());
    EXPECT_EQ(o.width, 100);
    diUIDeliverEvent(nullptr, &ev); // none is ignored
}

int g_handlerRefs;
TEST_F(DiUI, HandlerReleasingItsObjectDoesNotDestroyItUntilDeliveryEnds) {
    // A progress object: its destroy routine is observable.
    DiObject* o = newObject(DI_OBJ_PROGRESS);
    o->handler = [](DiObject* self, DiEvent*) {
        diUIObjectRelease(self);
        g_handlerRefs = self->refCount; // still alive here
        EXPECT_EQ(g_fakeUI.progressDestroyed, 0);
        return 1;
    };
    DiEvent ev{};
    ev.w[0] = DI_EV_COMMAND;
    diUIDeliverEvent(o, &ev);
    EXPECT_EQ(g_handlerRefs, 1);
    EXPECT_EQ(g_fakeUI.progressDestroyed, 1);
}

TEST_F(DiUI, EventsReachingAnObjectDuringItsDestructionAreIgnored) {
    // The progress window's view can send an event while its object is
    // being destroyed; delivery must neither call the handler nor destroy
    // the object again.
    DiObject* o = newObject(DI_OBJ_PROGRESS);
    static int calls;
    calls = 0;
    o->handler = [](DiObject*, DiEvent*) { return ++calls, 1; };
    o->refCount = 0;
    DiEvent ev{};
    ev.w[0] = DI_EV_COMMAND;
    diUIDeliverEvent(o, &ev);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(g_fakeUI.progressDestroyed, 0);
    EXPECT_EQ(o->refCount, 0);
    free(o);
}

TEST_F(DiUI, DestroyFreesTheGraphicsContextOnceBeforeTheTypeRoutine) {
    DiObject* o = newObject(DI_OBJ_PROGRESS);
    o->gc = new DdGC();
    g_fakeUI.gcAtDestroy = reinterpret_cast<DdGC*>(1);
    diUIObjectRelease(o);
    EXPECT_EQ(g_fakeUI.gcFreed, 1);
    EXPECT_EQ(g_fakeUI.progressDestroyed, 1);
    // The routine must not see (and free again) the context already freed.
    EXPECT_EQ(g_fakeUI.gcAtDestroy, nullptr);
}

TEST_F(DiUI, DestroyRunsTheRoutineOfTheType) {
    struct Case {
        uint32_t type;
        int progress, managers;
    } cases[] = {{DI_OBJ_PROGRESS, 1, 0}, {DI_OBJ_DEMANAGER, 0, 1}};
    for (const Case& c : cases) {
        fakesReset();
        DiObject* o;
        if (c.type == DI_OBJ_DEMANAGER) {
            o = &ddDEMgrCreate(nullptr, 1, 1, nullptr)->hdr;
        } else {
            o = newObject(c.type);
        }
        diUIObjectRelease(o);
        EXPECT_EQ(g_fakeUI.progressDestroyed, c.progress);
        EXPECT_EQ(g_fakeUI.managersDestroyed, c.managers);
    }
    // Types without a routine are left to their owner.
    DiObject frame;
    diUIObjectInit(&frame, DI_OBJ_FRAME, 1, 1);
    diUIObjectDestroy(&frame);
}

TEST_F(DiUI, TitlesAndScrollingAreStoredAndPassedOn) {
    DiObject o;
    diUIObjectInit(&o, DI_OBJ_FRAME, 10, 10);
    ASSERT_EQ(diUISetTitle(&o, u"Session"), 0);
    EXPECT_EQ(std::u16string(o.title), u"Session");
    ASSERT_EQ(diUISetTitle(&o, u"Other"), 0);
    EXPECT_EQ(std::u16string(o.title), u"Other");
    diUIObjectFreeTitle(&o);
    EXPECT_EQ(o.title, nullptr);
    diUISetVirtualSize(&o, 2000, 1000);
    diUISetScrollPos(&o, 5, 6);
    EXPECT_EQ(o.vwidth, 2000);
    EXPECT_EQ(o.scrollY, 6);
    EXPECT_EQ(g_fakeUI.scrollRangeUpdates, 1);
    EXPECT_EQ(g_fakeUI.scrollPosUpdates, 1);
}

TEST_F(DiUI, FindTopFrameWalksTheParents) {
    DiFrame frame{};
    diUIFrameInit(&frame, 1, 1);
    DiObject mgr, ch;
    diUIObjectInit(&mgr, DI_OBJ_DEMANAGER, 1, 1);
    diUIObjectInit(&ch, DI_OBJ_XDE, 1, 1);
    mgr.parent = &frame.hdr;
    ch.parent = &mgr;
    EXPECT_EQ(diUIFindTopFrame(&ch), &frame.hdr);
    EXPECT_EQ(diUIFindTopFrame(&frame.hdr), &frame.hdr);
    mgr.parent = nullptr;
    EXPECT_EQ(diUIFindTopFrame(&ch), nullptr);
}

TEST_F(DiUI, FrameWithManagerAndChannelIsCreatedAndDestroyed) {
    g_fakeChannels.ctorSucceeds = true;
    DiFrame* f = diUICreateFrame(2, DI_OBJ_TDE, 640, 480);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(diUIFrameListHead(), f);
    ASSERT_NE(f->manager, nullptr);
    EXPECT_EQ(f->manager->hdr.background, 0u); // full-screen frames are black
    ASSERT_NE(f->manager->channel, nullptr);
    EXPECT_EQ(f->manager->channel->hdr.parent, &f->manager->hdr);
    EXPECT_NE(f->manager->progress, nullptr);
    EXPECT_EQ(diDEChannelCount(), 1);
    diUIDestroyFrame(f);
    EXPECT_EQ(diUIFrameListHead(), nullptr);
    EXPECT_EQ(diDEChannelCount(), 0);
    EXPECT_EQ(g_fakeUI.managersDestroyed, 1);
    EXPECT_EQ(g_fakeUI.progressDestroyed, 1);
    EXPECT_EQ(g_fakeUI.framesFreed, 1);
    EXPECT_EQ(g_fakeUI.forgottenRoot, &f->hdr);
    EXPECT_EQ(g_fakeUI.gcFreed, g_fakeUI.gcCreated); // every context freed once
}

TEST_F(DiUI, FrameCreationFailuresFreeWhatWasMade) {
    struct Case {
        const char* name;
        bool frame, manager, progress, channel;
    } cases[] = {
        {"frame window", true, false, false, false},
        {"manager", false, true, false, false},
        {"progress", false, false, true, false},
        {"channel", false, false, false, true},
    };
    for (const Case& c : cases) {
        fakesReset();
        g_fakeUI.frameFails = c.frame;
        g_fakeUI.managerFails = c.manager;
        g_fakeUI.progressFails = c.progress;
        g_fakeChannels.ctorSucceeds = !c.channel;
        EXPECT_EQ(diUICreateFrame(1, DI_OBJ_XDE, 10, 10), nullptr) << c.name;
        EXPECT_EQ(g_fakeUI.gcFreed, g_fakeUI.gcCreated) << c.name;
        EXPECT_EQ(g_fakeNet.destroyed, g_fakeNet.created) << c.name;
        EXPECT_EQ(g_fakeUI.progressDestroyed, g_fakeUI.progressCreated) << c.name;
        EXPECT_EQ(diUIFrameListHead(), nullptr) << c.name;
    }
}

TEST_F(DiUI, ManagerWithoutChannelOrProgress) {
    g_fakeUI.noProgress = true;
    DiFrame* f = diUICreateFrame(1, 2, 640, 480);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->manager->channel, nullptr);
    EXPECT_EQ(f->manager->progress, nullptr);
    EXPECT_EQ(diDEChannelCount(), 0);
    diUIDestroyFrame(f);
    EXPECT_EQ(g_fakeUI.gcFreed, g_fakeUI.gcCreated);
}

TEST_F(DiUI, FrameListKeepsOrder) {
    DiFrame a{}, b{}, c{};
    diUIFrameListAppend(&a);
    diUIFrameListAppend(&b);
    diUIFrameListAppend(&c);
    diUIFrameListRemove(&b);
    EXPECT_EQ(diUIFrameListHead(), &a);
    EXPECT_EQ(a.next, &c);
    EXPECT_EQ(c.prev, &a);
    diUIFrameListRemove(&a);
    EXPECT_EQ(diUIFrameListHead(), &c);
    diUIFrameListRemove(&c);
    EXPECT_EQ(diUIFrameListHead(), nullptr);
}

} // namespace
