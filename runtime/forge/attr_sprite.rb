# Primitive mix-ins for game classes: including one declares the attributes
# the outputs walker reads and the matching primitive marker.
module AttrRect
  attr_accessor :x, :y, :w, :h, :anchor_x, :anchor_y
end

module AttrSprite
  include AttrRect

  attr_accessor :path, :angle, :a, :r, :g, :b,
                :tile_x, :tile_y, :tile_w, :tile_h,
                :flip_horizontally, :flip_vertically,
                :angle_anchor_x, :angle_anchor_y,
                :source_x, :source_y, :source_w, :source_h,
                :blendmode_enum, :scale_quality_enum

  def primitive_marker
    :sprite
  end
end

module AttrLabel
  attr_accessor :x, :y, :text, :size_enum, :size_px, :alignment_enum,
                :vertical_alignment_enum, :r, :g, :b, :a, :font,
                :blendmode_enum, :anchor_x, :anchor_y

  def primitive_marker
    :label
  end
end

module AttrLine
  attr_accessor :x, :y, :x2, :y2, :r, :g, :b, :a, :blendmode_enum

  def primitive_marker
    :line
  end
end
