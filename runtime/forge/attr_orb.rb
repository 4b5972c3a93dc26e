# AttrORB: a mix-in for game classes that keep `args` in an attribute and
# want the usual shortcuts (state, inputs, outputs, grid ...) on self.
module AttrORB
  attr_accessor :args

  def orb
    args.orb
  end

  def state
    args.state
  end

  def inputs
    args.inputs
  end

  def outputs
    args.outputs
  end

  def grid
    args.grid
  end

  def audio
    args.audio
  end

  def layout
    args.layout
  end

  def geometry
    args.geometry
  end

  def events
    args.events
  end

  def passes
    args.passes
  end

  def cvars
    args.cvars
  end

  def new_entity(entity_type, init_hash = nil, &block)
    args.state.new_entity(entity_type, init_hash, &block)
  end

  def new_entity_strict(entity_type, init_hash = nil, &block)
    args.state.new_entity_strict(entity_type, init_hash, &block)
  end
end
