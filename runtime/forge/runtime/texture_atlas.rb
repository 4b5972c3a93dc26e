# ORB::TextureAtlas: HD sprite atlas discovery for the renderer.
module ORB
  class TextureAtlas
    def initialize(runtime)
      @runtime = runtime
    end

    # Path to info Hash for every atlas under the sprites directory; none are
    # discovered in this build.
    def get_texture_atlas(_sprites_directory)
      {}
    end
  end
end
