// The catalog currently on offer. A rescan puts a new one on the shelf; conversations that took
// the old one keep it alive until they let go of it.
#pragma once

#include <memory>
#include <utility>

#include "update_server/release_catalog.h"

namespace qm::server {

class CatalogShelf {
  public:
    explicit CatalogShelf(std::shared_ptr<ReleaseCatalog const> catalog)
        : catalog_(std::move(catalog)) {}

    std::shared_ptr<ReleaseCatalog const> current() const { return catalog_; }
    void Replace(std::shared_ptr<ReleaseCatalog const> catalog) { catalog_ = std::move(catalog); }

  private:
    std::shared_ptr<ReleaseCatalog const> catalog_;
};

}  // namespace qm::server
