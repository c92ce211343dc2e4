// Fixture for tests on the simulated board: each test gets a fresh board
// with its own temporary board root, removed afterwards.
#pragma once

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <string>

class SimBoardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The board root folder and a path under it ("/data/x" -> root/data/x).
    const std::string& root() const { return root_; }
    std::string hostPath(const std::string& systemPath) const;

    static std::string readFile(const std::string& hostPath);
    static void writeFile(const std::string& hostPath, const std::string& data);
    static bool exists(const std::string& hostPath);

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::string root_;
};
