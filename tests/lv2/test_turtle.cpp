// The Turtle follows the plug table: a renamed plug or choice changes the written description,
// which lilv still reads; symbols stay valid and distinct whatever the names.
#include "LilvRig.h"

#include "Instance.h"
#include "ModuleLibrary.h"
#include "TempPath.h"
#include "TurtleWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

lv2turtle::ModuleDescription FreshModule() {
    auto library = sehost::ModuleLibrary::Load(std::string(lv2test::BundleDir()) + "/Module.so");
    sehost::Instance fresh(*library, sehost::InstanceSettings{});
    lv2turtle::ModuleDescription module;
    module.name = "Strip";
    module.plugs = fresh.Plugs();
    for (const sehost::PlugInfo& plug : module.plugs) {
        module.defaults.push_back(fresh.PlugValue(plug.index));
    }
    return module;
}

TEST(Turtle, ARenamedPlugChangesTheDescriptionLilvReads) {
    lv2turtle::ModuleDescription module = FreshModule();
    module.plugs[1].name = "View \"Mode\" \\ 2";
    module.plugs[1].choices[4].name = "Five ms";
    const lv2turtle::BundleFiles files{"strip_viewer_dsp.so", "strip_viewer_ui.so", "p.ttl"};
    const std::string dir = lv2test::TempPath("renamed.lv2/");
    mkdir(dir.c_str(), 0755);
    std::ofstream(dir + "manifest.ttl") << lv2turtle::ManifestTurtle(files);
    std::ofstream(dir + "p.ttl") << lv2turtle::PluginTurtle(module, files);

    LilvWorld* world = lilv_world_new();
    LilvNode* bundle = lilv_new_file_uri(world, nullptr, dir.c_str());
    lilv_world_load_bundle(world, bundle);
    LilvNode* uri = lilv_new_uri(world, lv2proto::kPluginUri);
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(lilv_plugin_get_num_ports(plugin), 22u);
    const LilvPort* port = lilv_plugin_get_port_by_index(plugin, lv2proto::kFirstControlPort);
    EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), "view_mode_2");
    LilvNode* name = lilv_port_get_name(plugin, port);
    EXPECT_STREQ(lilv_node_as_string(name), "View \"Mode\" \\ 2");
    LilvScalePoints* points = lilv_port_get_scale_points(plugin, port);
    bool renamed = false;
    LILV_FOREACH(scale_points, i, points) {
        const LilvScalePoint* point = lilv_scale_points_get(points, i);
        renamed = renamed || (lilv_node_as_float(lilv_scale_point_get_value(point)) == 3.0f &&
                              std::string(lilv_node_as_string(lilv_scale_point_get_label(point))) ==
                                  "Five ms");
    }
    EXPECT_TRUE(renamed);
    lilv_scale_points_free(points);
    lilv_node_free(name);
    lilv_node_free(uri);
    lilv_node_free(bundle);
    lilv_world_free(world);
    std::remove((dir + "manifest.ttl").c_str());
    std::remove((dir + "p.ttl").c_str());
    rmdir(dir.c_str());
}

TEST(Turtle, PortRangesFollowThePlugNotItsName) {
    lv2turtle::ModuleDescription module = FreshModule();
    const lv2proto::PortLayout named = lv2proto::LayoutPorts(module.plugs);
    for (sehost::PlugInfo& plug : module.plugs) {
        plug.name = "Plug " + std::to_string(plug.index);
    }
    const lv2proto::PortLayout renamed = lv2proto::LayoutPorts(module.plugs);
    ASSERT_EQ(renamed.controls.size(), named.controls.size());
    for (size_t i = 0; i < named.controls.size(); ++i) {
        EXPECT_EQ(renamed.controls[i].range.min, named.controls[i].range.min) << i;
        EXPECT_EQ(renamed.controls[i].range.max, named.controls[i].range.max) << i;
    }
    EXPECT_EQ(named.controls[3].range.min, -1.0f); // the background's red: "no background"
    const lv2turtle::BundleFiles files{"dsp.so", "ui.so", "p.ttl"};
    EXPECT_NE(lv2turtle::PluginTurtle(module, files).find("\"No background\""), std::string::npos);
}

TEST(Turtle, SymbolsAreValidAndDistinct) {
    EXPECT_EQ(lv2proto::PortSymbol("Background Alpha (blend)"), "background_alpha_blend");
    EXPECT_EQ(lv2proto::PortSymbol("Shading X%"), "shading_x");
    EXPECT_EQ(lv2proto::PortSymbol("2nd  Level"), "p_2nd_level");
    EXPECT_EQ(lv2proto::PortSymbol("%%"), "p_");
    EXPECT_EQ(lv2proto::PortSymbol("Gr\xC3\xBCn"), "gr_n");

    std::vector<sehost::PlugInfo> plugs(5);
    const char* names[] = {"In", "A b", "A-b", "Notify", "A b 2"};
    for (int i = 0; i < 5; ++i) {
        plugs[i].index = i;
        plugs[i].name = names[i];
        plugs[i].datatype = i == 0 ? PIN_TYPE_AUDIO : PIN_TYPE_INT;
    }
    const lv2proto::PortLayout layout = lv2proto::LayoutPorts(plugs);
    ASSERT_EQ(layout.controls.size(), 4u);
    EXPECT_EQ(layout.audio.at(0).symbol, "in");
    EXPECT_EQ(layout.controls[0].symbol, "a_b");
    EXPECT_EQ(layout.controls[1].symbol, "a_b_2");
    EXPECT_EQ(layout.controls[2].symbol, "notify_2");
    EXPECT_EQ(layout.controls[3].symbol, "a_b_2_2");
    EXPECT_EQ(layout.controls[3].port, 7u);
}

} // namespace
