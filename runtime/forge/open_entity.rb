# ORB::OpenEntity: the default `args.state`, a bag of properties kept in one
# Hash. A property is read or written by name; the accessor is defined on
# the class on first use so later calls are direct method calls. Unset
# properties read as nil (see NilClassFalseClass for auto-creation).
module ORB
  class OpenEntity
    include Geometry

    attr_accessor :__touched__, :__contains_array_indexers__

    RESERVED_KEYS = [:entity_id, :entity_type, :__thrash_count__, :entity_name,
                     :created_at, :global_created_at].freeze
    OPERATORS = [:+, :-, :*, :/].freeze

    def initialize(name = nil)
      @hash = { entity_id: Entity.id!, entity_keys_by_ref: {} }
      @hash[:entity_name] = name if name
      @__touched__ = false
      @__contains_array_indexers__ = false
    end

    def as_hash
      @hash
    end

    def entity_id
      @hash[:entity_id]
    end

    def [](key)
      value = @hash[key]
      NilClassFalseClass.arm!(@hash, key) if value.nil?
      value
    end

    def []=(key, value)
      @__contains_array_indexers__ = true if key.is_a?(Integer) && !@hash.key?(key)
      @hash[key] = value
    end

    def set!(key, value)
      if key.is_a?(Array)
        target = self
        key[0..-2].each do |k|
          nxt = target[k]
          unless nxt
            nxt = OpenEntity.new(k)
            target[k] = nxt
          end
          target = nxt
        end
        target[key[-1]] = value
      else
        @hash[key] = value
      end
    end

    def attributes
      result = {}
      @hash.each { |k, v| result[k] = v unless RESERVED_KEYS.include?(k) }
      result
    end

    def attributes=(_value)
      raise "* ERROR: You cannot use the property ~attributes~ for an object under ~args.state~ because it would overwrite ~Object::attributes~. Please pick a different property name."
    end

    def merge(*others)
      result = @hash.dup
      others.each { |o| result.merge!(o.is_a?(OpenEntity) ? o.as_hash : o) }
      result
    end

    def clear!
      @hash.clear
      self
    end

    def new_entity(entity_type, init_hash = nil, &block)
      Entity.new_entity(entity_type, init_hash, &block)
    end

    def new_entity_strict(entity_type, init_hash = nil, &block)
      Entity.new_entity_strict(entity_type, init_hash, &block)
    end

    def created_at_elapsed
      created = @hash[:created_at]
      created ? Kernel.tick_count - created : nil
    end

    def global_created_at_elapsed
      created = @hash[:global_created_at]
      created ? Kernel.global_tick_count - created : nil
    end

    def old?
      lifetime = @hash[:lifetime]
      return false unless lifetime.is_a?(Numeric)
      created_at_elapsed > lifetime
    end

    def new?(tick_count_override = nil)
      created_at_elapsed == (tick_count_override || Kernel.tick_count)
    end

    def ==(other)
      return true if equal?(other)
      return other == entity_id if other.is_a?(Numeric)
      nil
    end

    def hash
      unless OpenEntity.hash_warned
        OpenEntity.hash_warned = true
        ORB::Log.warn("* WARNING:\nEntity#hash has been renamed to Entity#as_hash so as not to clober Object#hash. If you get a weird exception later on, this may end up being why (since now this function returns a fixnum and not a dictionary).\n")
      end
      super
    end

    def to_s
      @hash.to_s
    end

    def inspect
      @hash.inspect
    end

    def serialize
      @hash
    end

    def method_missing(name, *args, &block)
      return super if block || args.length > 2 || OPERATORS.include?(name)
      text = name.to_s
      last = text[-1]
      return super if last == "!" || last == "?"
      if args.empty?
        OpenEntity.__define_reader__(name)
        return __send__(name)
      end
      if args.length == 1 && last == "="
        OpenEntity.__define_writer__(name, text[0..-2].to_sym)
        return __send__(name, args[0])
      end
      nil
    end

    def respond_to_missing?(_name, _include_all = false)
      false
    end

    class << self
      attr_accessor :hash_warned

      def __define_reader__(name)
        define_method(name) do
          @__touched__ = true
          value = @hash[name]
          if value.nil? && !$nil_punning_disabled
            NilClassFalseClass.arm!(@hash, name)
          end
          value
        end
      end

      def __define_writer__(name, key)
        define_method(name) do |value|
          @__touched__ = true
          NilClassFalseClass.disarm! if value.nil?
          @hash[key] = value
        end
      end
    end
  end
end
