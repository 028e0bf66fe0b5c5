#include "platform/linux/sandbox/document_portal.h"

#include <gtest/gtest.h>

namespace {

using platform::sandbox::portalDocumentAt;

TEST(DocumentPortal, TheDocumentAPathNames)
{
    struct Row {
        const char* pathInPortal;
        const char* id;
        const char* pathInDocument;
    };
    for (auto row : {
             Row { "/a1b2c3d4/movie.mkv", "a1b2c3d4", "movie.mkv" },
             Row { "/by-app/com.Calderine.Ferrowind3/a1b2c3d4/movie.mkv", "a1b2c3d4", "movie.mkv" },
             Row { "/a1b2c3d4/Season 1/e01.mkv", "a1b2c3d4", "Season 1/e01.mkv" },
         }) {
        auto document = portalDocumentAt(row.pathInPortal);
        ASSERT_TRUE(document) << row.pathInPortal;
        EXPECT_EQ(document->id, row.id);
        EXPECT_EQ(document->pathInDocument, row.pathInDocument);
    }
    // The portal's own folders name no document.
    for (auto path : { "/", "/a1b2c3d4", "/a1b2c3d4/", "/by-app/com.Calderine.Ferrowind3", "/by-app/com.Calderine.Ferrowind3/a1b2c3d4",
             "/../movie.mkv", "a1b2c3d4/movie.mkv" })
        EXPECT_FALSE(portalDocumentAt(path)) << path;
}

} // namespace
